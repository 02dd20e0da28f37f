// The one retry rule of every request the negotiation runner makes.
#ifndef VANTA_ACCESSOR_RETRY_H_
#define VANTA_ACCESSOR_RETRY_H_

#include <functional>

#include "vanta/ErrorCode.h"

namespace vanta {

struct StepOutcome {
  ErrorCode code;        // the last attempt's code
  bool aborted = false;  // the abort flag was seen after an attempt
};

// Runs attempt(try_count) with try_count 1, 2, 3: at once, then after
// Thread::Sleep(2000), then after Thread::Sleep(3000). After every attempt
// abort_requested() is asked first; true ends the step as aborted whatever
// the attempt returned. A success ends the step, and so does a failure that
// another attempt cannot change (IsServerResponseCode); other failures are
// tried again until the third attempt. The trace names the step as name.
StepOutcome RunStep(const char* name, const std::function<ErrorCode(int try_count)>& attempt,
                    const std::function<bool()>& abort_requested);

}  // namespace vanta

#endif  // VANTA_ACCESSOR_RETRY_H_
