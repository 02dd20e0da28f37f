// The four root certificates that HTTPS JSON POSTs trust, as PEM text.
#ifndef VANTA_SERVICE_BUILTIN_ROOTS_H_
#define VANTA_SERVICE_BUILTIN_ROOTS_H_

#include <cstddef>

namespace vanta {

// NUL-terminated PEM text of 5109 bytes (without the NUL).
extern const char kBuiltinRootsPem[];
extern const size_t kBuiltinRootsPemLength;

}  // namespace vanta

#endif  // VANTA_SERVICE_BUILTIN_ROOTS_H_
