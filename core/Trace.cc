#include "core/Trace.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <shared_mutex>

#include "vanta/Trace.h"

namespace vanta {

namespace {

// Calls run under the shared lock and installing takes it exclusively, so
// that once SetTraceHandler returns the old handler is no longer running
// and never will be again. `installed` lets Enabled() skip the lock.
std::shared_mutex mu;
TraceHandler current_handler = nullptr;
void* current_context = nullptr;
std::atomic<bool> installed{false};

}  // namespace

void SetTraceHandler(TraceHandler handler, void* context) {
  std::unique_lock<std::shared_mutex> lock(mu);
  current_handler = handler;
  current_context = context;
  installed.store(handler != nullptr);
}

namespace trace {

bool Enabled() { return installed.load(std::memory_order_relaxed); }

void Emit(const std::string& line) {
  if (!Enabled()) return;
  std::shared_lock<std::shared_mutex> lock(mu);
  if (current_handler != nullptr) current_handler(line.c_str(), current_context);
}

std::string Code(ErrorCode code) {
  char hex[16];
  std::snprintf(hex, sizeof(hex), "0x%08X", static_cast<unsigned>(code.GetValue()));
  return std::string(hex) + " " + code.Name();
}

}  // namespace trace
}  // namespace vanta
