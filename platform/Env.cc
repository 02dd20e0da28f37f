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

std::string TempDirectory() {
  Env* env = Env::Get();
#if defined(_WIN32)
  return env->GetVariable("TEMP").value_or("");
#else
  for (const char* name : {"TEMP", "TMPDIR"}) {
    std::optional<std::string> value = env->GetVariable(name);
    if (value && !value->empty()) return *value;
  }
  return "/tmp";
#endif
}

std::string TempFilePath(const char* name) { return TempDirectory() + kPathSeparator + name; }

}  // namespace vanta
