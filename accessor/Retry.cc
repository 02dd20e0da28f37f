#include "accessor/Retry.h"

#include "core/Result.h"
#include "service/Codes.h"
#include "vanta/ThreadWrapper.h"

namespace vanta {

StepOutcome RunStep(const std::function<ErrorCode(int try_count)>& attempt,
                    const std::function<bool()>& abort_requested) {
  int try_count = 0;
  int delay_ms = 0;
  for (;;) {
    ++try_count;
    delay_ms += 1000;
    if (try_count >= 2) Thread::Sleep(static_cast<unsigned int>(delay_ms));
    StepOutcome outcome;
    outcome.code = attempt(try_count);
    if (abort_requested()) {
      outcome.aborted = true;
      return outcome;
    }
    if (!IsFailure(outcome.code) || delay_ms >= 3000 || IsServerResponseCode(outcome.code)) {
      return outcome;
    }
  }
}

}  // namespace vanta
