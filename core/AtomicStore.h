// 32-bit stores that another thread may read plainly and see whole.
#ifndef VANTA_CORE_ATOMIC_STORE_H_
#define VANTA_CORE_ATOMIC_STORE_H_

namespace vanta {
namespace pfimpl {

// Stores value into *target; returns the value stored.
int AtomicStore32(volatile int* target, int value);
// Reads *target whole (an ordinary aligned 32-bit load on every target).
int AtomicLoad32(const volatile int* target);

}  // namespace pfimpl
}  // namespace vanta

#endif  // VANTA_CORE_ATOMIC_STORE_H_
