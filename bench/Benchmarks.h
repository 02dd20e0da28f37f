// Registration of every benchmark of the binary, and the names under which
// their results are read back for the table.
#ifndef VANTA_BENCH_BENCHMARKS_H_
#define VANTA_BENCH_BENCHMARKS_H_

#include <string>
#include <vector>

namespace vanta {
namespace bench {

// Negotiation: the three dispatcher exchanges, per iteration.
extern const char kNegotiationLibrary[];
extern const char kNegotiationRaw[];
// Monitor reports, one per iteration, reports runs of that many.
extern const char kMonitorLibrary[];
extern const char kMonitorRawKeepAlive[];
extern const char kMonitorRawFresh[];
void RegisterNetworkBenchmarks(int reports);

// Message work without the network, one message per benchmark. For each
// message the library's work, the picojson floor (parse and serialize the
// same text) and the nlohmann/json way are registered as
// "<message>/library", "<message>/picojson" and "<message>/nlohmann".
std::vector<std::string> RegisterMessageBenchmarks();
// The game service answer parsed by the library, next to a bare
// picojson::parse of the same text.
extern const char kGameserviceParseLibrary[];
extern const char kGameserviceParseBare[];

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_BENCHMARKS_H_
