#include "platform/Env.h"

#include <atomic>

namespace vanta {

// Defined by the implementation of this system family (posix/, win32/).
Env* SystemEnv();

namespace {

// nullptr: the system's. Atomic because a test installs it on one thread
// while the library may read it on another.
std::atomic<Env*> installed{nullptr};

}  // namespace

Env* Env::Get() {
  Env* env = installed.load();
  return env != nullptr ? env : SystemEnv();
}

Env* Env::SetForTesting(Env* env) { return installed.exchange(env); }

}  // namespace vanta
