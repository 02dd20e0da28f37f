// Counts the heap allocation calls of this process while a Counted scope is
// open: operator new's, and libcurl's own through the functions that
// InstallCurlAllocators hands to curl_global_init_mem.
#ifndef VANTA_BENCH_ALLOCATIONS_H_
#define VANTA_BENCH_ALLOCATIONS_H_

namespace vanta {
namespace bench {

struct AllocationCount {
  long cxx = 0;   // operator new
  long curl = 0;  // libcurl's malloc, calloc, realloc and strdup
};

// REQUIRES: called before any other use of libcurl, so that all its
// allocations are seen.
void InstallCurlAllocators();

// While one exists, the allocations of every thread are added to *into.
// Scopes do not nest; an Uncounted scope inside pauses the counting.
class Counted {
 public:
  explicit Counted(AllocationCount* into);
  ~Counted();
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;
};

// Pauses a Counted scope, for work that a measurement leaves out.
class Uncounted {
 public:
  Uncounted();
  ~Uncounted();
  Uncounted(const Uncounted&) = delete;
  Uncounted& operator=(const Uncounted&) = delete;

 private:
  AllocationCount* paused_;
};

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_ALLOCATIONS_H_
