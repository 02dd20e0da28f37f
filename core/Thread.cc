#include "platform/Env.h"
#include "vanta/ThreadWrapper.h"

namespace vanta {

Thread::Thread() : priority_(0) {}

Thread::~Thread() = default;

void Thread::SetName(const char* name) { name_ = name == nullptr ? "" : name; }

void Thread::SetPriority(int priority) { priority_ = priority; }

ErrorCode Thread::Sleep(unsigned int milliseconds) {
  Env::Get()->WaitMillis(milliseconds, nullptr);
  return WS_SUCCESS;
}

}  // namespace vanta
