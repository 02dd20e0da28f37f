// Side-by-side timing. The sides of one comparison run in alternation
// inside every benchmark iteration (a "round"): each side does `batch`
// calls, timed on their own, and the order of the sides turns by one from
// round to round. A slow moment of the shared machine therefore falls on
// every side alike, and the ratio of two sides stays meaningful where their
// absolute times would drift between separate benchmarks.
#ifndef VANTA_BENCH_PAIRED_H_
#define VANTA_BENCH_PAIRED_H_

#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <vector>

namespace vanta {
namespace bench {

struct Side {
  std::string name;
  std::function<bool()> work;  // one call; false ends the run as an error
};

// Runs the rounds of state. Reports, as counter <side name>, the median over
// the rounds of each side's wall-clock nanoseconds per call, as
// <side name>_cpu the same for the calling thread's CPU time, and counts
// every side's calls as items.
void RunPaired(benchmark::State& state, const std::vector<Side>& sides, int batch);

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_PAIRED_H_
