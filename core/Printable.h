// The one rule for showing text that came from a peer or the machine.
//
// Valid UTF-8 is kept, except control characters (U+0000 to U+001F and
// U+007F to U+009F); those, and every byte that is not part of valid UTF-8
// (overlong forms, surrogates and code points past U+10FFFF included), are
// written as \xNN with two upper-case hex digits. A printable text is one
// line and cannot steer a terminal. Pure; safe on any thread.
#ifndef VANTA_CORE_PRINTABLE_H_
#define VANTA_CORE_PRINTABLE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace vanta {

// The printable form of text, at most max_bytes long: whole characters and
// whole escapes only. *cut (may be null) tells whether some of text was
// left out. Throws only std::bad_alloc.
std::string Printable(std::string_view text, size_t max_bytes = std::string::npos,
                      bool* cut = nullptr);

}  // namespace vanta

#endif  // VANTA_CORE_PRINTABLE_H_
