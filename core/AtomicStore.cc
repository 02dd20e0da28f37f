#include "core/AtomicStore.h"

namespace vanta {
namespace pfimpl {

int AtomicStore32(volatile int* target, int value) {
  __atomic_store_n(target, value, __ATOMIC_SEQ_CST);
  return value;
}

int AtomicLoad32(const volatile int* target) { return __atomic_load_n(target, __ATOMIC_SEQ_CST); }

}  // namespace pfimpl
}  // namespace vanta
