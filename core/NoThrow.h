// Keeps exceptions inside the library: public operations and the worker
// thread run their bodies through NoThrow, so that running out of memory
// (or any other exception of the standard library) becomes a result code
// instead of leaving the library.
#ifndef VANTA_CORE_NO_THROW_H_
#define VANTA_CORE_NO_THROW_H_

#include <new>

#include "vanta/ErrorCode.h"

namespace vanta {

// f() as a code: std::bad_alloc gives WS_ERROR_OUT_OF_MEMORY, any other
// exception WS_ERROR_FAILED.
template <typename F>
ErrorCode NoThrow(F&& f) noexcept {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return WS_ERROR_OUT_OF_MEMORY;
  } catch (...) {
    return WS_ERROR_FAILED;
  }
}

}  // namespace vanta

#endif  // VANTA_CORE_NO_THROW_H_
