// The one retry rule of every request the negotiation runner makes.
#ifndef VANTA_ACCESSOR_RETRY_H_
#define VANTA_ACCESSOR_RETRY_H_

#include <functional>

#include "platform/Cancellation.h"
#include "vanta/ErrorCode.h"

namespace vanta {

struct StepOutcome {
  ErrorCode code;        // the last attempt's code
  int attempts = 0;      // the requests made
  bool aborted = false;  // the step was stopped
};

// Runs attempt(try_count) with try_count 1, 2, 3: at once, then after a
// wait of 2000 ms, then after a wait of 3000 ms (Env::WaitMillis on
// cancel). After every attempt abort_requested() is asked first; true ends
// the step as aborted whatever the attempt returned, and so does cancel
// (may be null) raised during a wait, before the next attempt is made. A
// success ends the step, and so does a failure that another attempt cannot
// change (IsServerResponseCode); other failures are tried again until the
// third attempt. The trace names the step as name.
StepOutcome RunStep(const char* name, const std::function<ErrorCode(int try_count)>& attempt,
                    const std::function<bool()>& abort_requested, Cancellation* cancel);

}  // namespace vanta

#endif  // VANTA_ACCESSOR_RETRY_H_
