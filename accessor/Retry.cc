#include "accessor/Retry.h"

#include <string>

#include "core/Trace.h"
#include "platform/Env.h"
#include "service/Codes.h"

namespace vanta {

namespace {

constexpr int kMaxAttempts = 3;

StepOutcome Aborted(const char* name, StepOutcome outcome) {
  outcome.aborted = true;
  trace::Emit(std::string(name) + ": aborted");
  return outcome;
}

}  // namespace

StepOutcome RunStep(const char* name, const std::function<ErrorCode(int try_count)>& attempt,
                    const std::function<bool()>& abort_requested, Cancellation* cancel) {
  StepOutcome outcome;
  int delay_ms = 0;
  for (;;) {
    const int try_count = outcome.attempts + 1;
    delay_ms += 1000;
    if (try_count >= 2) {
      if (trace::Enabled()) {
        trace::Emit(std::string(name) + ": attempt " + std::to_string(try_count) + " of " +
                    std::to_string(kMaxAttempts) + " after a wait of " +
                    std::to_string(delay_ms / 1000) + " s");
      }
      if (Env::Get()->WaitMillis(static_cast<unsigned>(delay_ms), cancel)) {
        return Aborted(name, outcome);
      }
    }
    outcome.code = attempt(try_count);
    outcome.attempts = try_count;
    if (abort_requested()) return Aborted(name, outcome);
    if (!outcome.code.IsFailure() || delay_ms >= 3000 || IsServerResponseCode(outcome.code)) {
      if (trace::Enabled()) {
        trace::Emit(std::string(name) +
                    (outcome.code.IsFailure() ? ": gave up after " : ": done after ") +
                    std::to_string(try_count) + (try_count == 1 ? " attempt: " : " attempts: ") +
                    trace::Code(outcome.code));
      }
      return outcome;
    }
  }
}

}  // namespace vanta
