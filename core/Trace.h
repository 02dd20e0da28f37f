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

// Hands line to the handler, if any.
void Emit(const std::string& line);

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
