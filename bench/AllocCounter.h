// Counts heap allocations made by one thread: C++ allocations through a
// replaced global operator new, and libcurl's through the allocator that
// curl_global_init_mem installs. Only threads that called StartCounting are
// counted, so the in-process peer's server threads are never charged.
#ifndef VANTA_BENCH_ALLOC_COUNTER_H_
#define VANTA_BENCH_ALLOC_COUNTER_H_

#include <cstdint>

namespace vanta {
namespace bench {

struct AllocCounts {
  uint64_t cxx = 0;   // operator new calls
  uint64_t curl = 0;  // libcurl malloc, calloc, strdup and growing realloc calls
};

// Routes libcurl's allocations through the counter. Must run before any
// other libcurl call of the process. False when libcurl refuses.
bool InstallCurlAllocCounter();

// Starts counting on the calling thread from zero.
void StartCounting();
// Stops counting on the calling thread and returns what it counted.
AllocCounts StopCounting();

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_ALLOC_COUNTER_H_
