#include <atomic>
#include <chrono>
#include <thread>

#include "core/SleepHook.h"
#include "vanta/ThreadWrapper.h"

namespace vanta {

namespace {

// nullptr means the real sleep. Atomic because tests install it on the
// owner's thread while a worker may read it.
std::atomic<SleepFunction> sleep_function{nullptr};

}  // namespace

SleepFunction SetSleepFunctionForTesting(SleepFunction fn) { return sleep_function.exchange(fn); }

Thread::Thread() : priority_(0) {}

Thread::~Thread() = default;

void Thread::SetName(const char* name) { name_ = name == nullptr ? "" : name; }

void Thread::SetPriority(int priority) { priority_ = priority; }

ErrorCode Thread::Sleep(unsigned int milliseconds) {
  SleepFunction fn = sleep_function.load();
  if (fn != nullptr) {
    fn(milliseconds);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  return WS_SUCCESS;
}

}  // namespace vanta
