// What an embedding program waits for: how soon Cancel() ends a run in each
// of its phases, how soon the accessor is gone after Cancel(), the CPU its
// owner spends in WaitFor, and a negotiation through the C interface next
// to the C++ one.
#ifndef VANTA_BENCH_EMBEDDING_H_
#define VANTA_BENCH_EMBEDDING_H_

#include <string>

namespace vanta {
namespace bench {

// Registers the rows cancel-<phase>/library (manual time: from Cancel() to
// the end of WaitFor, 50 runs each), destroy-after-cancel/library,
// wait-cpu/library (the counter owner_cpu_ms over a 5 s negotiation) and
// interface/library (C) next to interface/baseline (C++). Starts a
// dispatcher of its own with delays and faults in scratch/slow; base is
// the plain dispatcher's. Sets TEMP to scratch/temp for the whole process.
void RegisterEmbedding(const std::string& vanta, const std::string& scratch,
                       const std::string& base);

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_EMBEDDING_H_
