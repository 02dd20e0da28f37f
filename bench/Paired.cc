#include "bench/Paired.h"

#include <time.h>

#include <algorithm>
#include <chrono>

namespace vanta {
namespace bench {

namespace {

double Median(std::vector<double> values) {
  if (values.empty()) return -1;
  const size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + mid, values.end());
  return values[mid];
}

// CPU time of the calling thread: what a side costs itself, whatever else
// the machine runs at the moment (the peer's threads included).
double ThreadCpuNanos() {
  timespec t = {};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

}  // namespace

void RunPaired(benchmark::State& state, const std::vector<Side>& sides, int batch) {
  using Clock = std::chrono::steady_clock;
  std::vector<std::vector<double>> per_call(sides.size());
  std::vector<std::vector<double>> cpu_per_call(sides.size());
  size_t first = 0;
  for (auto _ : state) {
    for (size_t k = 0; k < sides.size(); ++k) {
      const size_t s = (first + k) % sides.size();
      const double cpu_start = ThreadCpuNanos();
      const Clock::time_point start = Clock::now();
      for (int i = 0; i < batch; ++i) {
        if (!sides[s].work()) {
          state.SkipWithError((sides[s].name + " failed").c_str());
          return;
        }
      }
      const std::chrono::duration<double, std::nano> spent = Clock::now() - start;
      per_call[s].push_back(spent.count() / batch);
      cpu_per_call[s].push_back((ThreadCpuNanos() - cpu_start) / batch);
    }
    first = (first + 1) % sides.size();
  }
  for (size_t s = 0; s < sides.size(); ++s) {
    state.counters[sides[s].name] = Median(per_call[s]);
    state.counters[sides[s].name + "_cpu"] = Median(cpu_per_call[s]);
  }
  state.SetItemsProcessed(state.iterations() * batch * static_cast<int64_t>(sides.size()));
}

}  // namespace bench
}  // namespace vanta
