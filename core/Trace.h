// The library's diagnostics: one line per event to the handler that the
// embedding program installed with SetTraceHandler, nothing otherwise.
#ifndef VANTA_CORE_TRACE_H_
#define VANTA_CORE_TRACE_H_

#include <string>

#include "vanta/ErrorCode.h"

namespace vanta {
namespace trace {

// True while a handler is installed. Callers build a line only then.
bool Enabled();

// Hands line to the handler, if any, after the calling thread's prefix.
void Emit(const std::string& line);

// While it exists, every line that its thread emits begins with prefix
// (an accessor's "[a3] "), so that the lines of two runs can be told apart.
// REQUIRES: prefix outlives the object; one per thread at a time.
class ScopedPrefix {
 public:
  explicit ScopedPrefix(const std::string& prefix);
  ~ScopedPrefix();
  ScopedPrefix(const ScopedPrefix&) = delete;
  ScopedPrefix& operator=(const ScopedPrefix&) = delete;
};

// A key or token as a trace shows it: its first 4 bytes and its length,
// never the whole ("abcd... (32 bytes)").
std::string Secret(const std::string& text);

// "0xAC40C80F WS_ERROR_SERVER_ERROR": the code in hex and its name.
std::string Code(ErrorCode code);

// The printable form of text (core/Printable.h), at most limit bytes; "...
// (N bytes)" after it marks a cut.
std::string Printable(const std::string& text, size_t limit = 200);

}  // namespace trace
}  // namespace vanta

#endif  // VANTA_CORE_TRACE_H_
