// Registration of every benchmark of the binary, and the names under which
// their results are read back for the table: "<benchmark>/<side>", each the
// median nanoseconds per call of that side (see Paired.h).
#ifndef VANTA_BENCH_BENCHMARKS_H_
#define VANTA_BENCH_BENCHMARKS_H_

#include <string>
#include <vector>

namespace vanta {
namespace bench {

// Negotiation: the three dispatcher exchanges per call.
extern const char kNegotiationLibrary[];
extern const char kNegotiationRaw[];
extern const char kNegotiationRawMessages[];  // raw libcurl + the library's message stages
// Monitor reports, one per call.
extern const char kMonitorLibrary[];
extern const char kMonitorRawKeepAlive[];
extern const char kMonitorRawFresh[];
// Registers both; reports is the number of monitor reports each side sends
// (rounded up to whole batches). Returns that number.
int RegisterNetworkBenchmarks(int reports);

// Message work without the network, one benchmark per message with the
// sides "library", "picojson" (parse and serialize the same text: the floor)
// and "nlohmann" (the same work with nlohmann/json). Returns the message
// names.
std::vector<std::string> RegisterMessageBenchmarks();
// The game service answer's response stage next to a bare picojson::parse
// of the same text.
extern const char kGameserviceParseLibrary[];
extern const char kGameserviceParseBare[];

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_BENCHMARKS_H_
