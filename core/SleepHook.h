// Test seam of Thread::Sleep: tests replace the sleep so that the retry
// waits cost nothing and can be recorded. Not part of the public headers.
#ifndef VANTA_CORE_SLEEP_HOOK_H_
#define VANTA_CORE_SLEEP_HOOK_H_

namespace vanta {

using SleepFunction = void (*)(unsigned int milliseconds);

// Installs fn as the sleep of Thread::Sleep; nullptr restores the real one.
// Returns the previous function (nullptr for the real one).
SleepFunction SetSleepFunctionForTesting(SleepFunction fn);

}  // namespace vanta

#endif  // VANTA_CORE_SLEEP_HOOK_H_
