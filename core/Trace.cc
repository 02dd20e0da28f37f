#include "core/Trace.h"

#include <atomic>
#include <cstdio>

#include "core/NoThrow.h"
#include "platform/Mutex.h"
#include "vanta/Trace.h"

namespace vanta {

namespace {

// Calls run under the shared lock and installing takes it exclusively, so
// that once SetTraceHandler returns the old handler is no longer running
// and never will be again. `installed` lets Enabled() skip the lock.
SharedMutex mu;
TraceHandler current_handler VANTA_GUARDED_BY(mu) = nullptr;
void* current_context VANTA_GUARDED_BY(mu) = nullptr;
std::atomic<bool> installed{false};
// The prefix of the lines of this thread (ScopedPrefix), or null.
thread_local const std::string* line_prefix = nullptr;

}  // namespace

void SetTraceHandler(TraceHandler handler, void* context) {
  WriterLock lock(&mu);
  current_handler = handler;
  current_context = context;
  installed.store(handler != nullptr);
}

namespace trace {

bool Enabled() { return installed.load(std::memory_order_relaxed); }

void Emit(const std::string& line) {
  if (!Enabled()) return;
  NoThrow([&] {
    const std::string prefixed = line_prefix != nullptr ? *line_prefix + line : std::string();
    const char* text = line_prefix != nullptr ? prefixed.c_str() : line.c_str();
    ReaderLock lock(&mu);
    if (current_handler != nullptr) current_handler(text, current_context);
    return ErrorCode(WS_SUCCESS);
  });
}

ScopedPrefix::ScopedPrefix(const std::string& prefix) { line_prefix = &prefix; }

ScopedPrefix::~ScopedPrefix() { line_prefix = nullptr; }

std::string Code(ErrorCode code) {
  char hex[16];
  std::snprintf(hex, sizeof(hex), "0x%08X", static_cast<unsigned>(code.GetValue()));
  return std::string(hex) + " " + code.Name();
}

}  // namespace trace
}  // namespace vanta
