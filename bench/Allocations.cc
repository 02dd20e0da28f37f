#include "bench/Allocations.h"

#include <curl/curl.h>
#include <stdlib.h>
#include <string.h>

#include <new>

namespace vanta {
namespace bench {
namespace {

AllocationCount* counting = nullptr;

template <typename T>
T CountedByCurl(T block) {
  if (counting != nullptr) ++counting->curl;
  return block;
}
void* CurlMalloc(size_t size) { return CountedByCurl(malloc(size)); }
void* CurlCalloc(size_t count, size_t size) { return CountedByCurl(calloc(count, size)); }
void* CurlRealloc(void* old, size_t size) { return CountedByCurl(realloc(old, size)); }
char* CurlStrdup(const char* text) { return CountedByCurl(strdup(text)); }
void CurlFree(void* block) { free(block); }

}  // namespace

void InstallCurlAllocators() {
  curl_global_init_mem(CURL_GLOBAL_DEFAULT, CurlMalloc, CurlFree, CurlRealloc, CurlStrdup,
                       CurlCalloc);
}

Counted::Counted(AllocationCount* into) { counting = into; }
Counted::~Counted() { counting = nullptr; }

Uncounted::Uncounted() : paused_(counting) { counting = nullptr; }
Uncounted::~Uncounted() { counting = paused_; }

}  // namespace bench
}  // namespace vanta

// The array and nothrow forms of the standard library call these. Out of
// line: inlined, the compiler would see new paired with free.
__attribute__((noinline)) void* operator new(size_t size) {
  if (vanta::bench::counting != nullptr) ++vanta::bench::counting->cxx;
  void* block = malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
__attribute__((noinline)) void operator delete(void* block) noexcept { free(block); }
__attribute__((noinline)) void operator delete(void* block, size_t) noexcept { free(block); }
