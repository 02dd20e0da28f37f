#include "bench/AllocCounter.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace vanta {
namespace bench {

namespace {

// Constant-initialised thread locals: reading them allocates nothing, so
// operator new may use them.
thread_local bool counting = false;
thread_local AllocCounts counts;

void* CountedMalloc(size_t size) {
  if (counting) ++counts.curl;
  return std::malloc(size);
}
void* CountedCalloc(size_t n, size_t size) {
  if (counting) ++counts.curl;
  return std::calloc(n, size);
}
void* CountedRealloc(void* p, size_t size) {
  if (counting && p == nullptr) ++counts.curl;
  return std::realloc(p, size);
}
char* CountedStrdup(const char* s) {
  if (counting) ++counts.curl;
  return strdup(s);
}
void Free(void* p) { std::free(p); }

}  // namespace

bool InstallCurlAllocCounter() {
  return curl_global_init_mem(CURL_GLOBAL_DEFAULT, CountedMalloc, Free, CountedRealloc,
                              CountedStrdup, CountedCalloc) == CURLE_OK;
}

void StartCounting() {
  counts = AllocCounts();
  counting = true;
}

AllocCounts StopCounting() {
  counting = false;
  return counts;
}

}  // namespace bench
}  // namespace vanta

// The replaced global allocation functions. The array and nothrow forms of
// the standard library call these.
void* operator new(size_t size) {
  if (vanta::bench::counting) ++vanta::bench::counts.cxx;
  if (size == 0) size = 1;
  void* p = std::malloc(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
