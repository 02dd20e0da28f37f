// The library's diagnostics: one line per event to a handler that the
// embedding program installs; without one the library prints nothing.
#ifndef VANTA_TRACE_H_
#define VANTA_TRACE_H_

#include "vanta/Export.h"

namespace vanta {

// The handler receives one line per event, without a line end: each
// exchange (method, address, HTTP status or transport error, bytes sent and
// received, milliseconds, the result code and its name), a dispatcher's
// refusal (its result and message) and the accessor's steps (state,
// attempt, the wait before the next attempt). Lines of an accessor's run
// begin with its short id ("[a3] "). Keys and tokens appear shortened,
// never whole; texts from peers appear printable (control characters and
// bytes that are not UTF-8 as \xNN). The line format is for people, not a
// stable interface: programs read the run report instead.
//
// None is installed at first. The handler is process-wide and may be
// called on any thread, concurrently; it may be replaced or removed
// (nullptr) while requests run, and once SetTraceHandler returns the
// previous handler is no longer called.
// REQUIRES: the handler does not call SetTraceHandler itself.
using TraceHandler = void (*)(const char* line, void* context);
VANTA_EXPORT void SetTraceHandler(TraceHandler handler, void* context);

}  // namespace vanta

#endif  // VANTA_TRACE_H_
