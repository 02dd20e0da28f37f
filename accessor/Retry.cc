#include "accessor/Retry.h"

#include <string>

#include "core/Trace.h"
#include "service/Codes.h"
#include "vanta/ThreadWrapper.h"

namespace vanta {

namespace {

constexpr int kMaxAttempts = 3;

}  // namespace

StepOutcome RunStep(const char* name, const std::function<ErrorCode(int try_count)>& attempt,
                    const std::function<bool()>& abort_requested) {
  int try_count = 0;
  int delay_ms = 0;
  for (;;) {
    ++try_count;
    delay_ms += 1000;
    if (try_count >= 2) {
      if (trace::Enabled()) {
        trace::Emit(std::string(name) + ": attempt " + std::to_string(try_count) + " of " +
                    std::to_string(kMaxAttempts) + " in " + std::to_string(delay_ms / 1000) + " s");
      }
      Thread::Sleep(static_cast<unsigned int>(delay_ms));
    }
    StepOutcome outcome;
    outcome.code = attempt(try_count);
    if (abort_requested()) {
      outcome.aborted = true;
      trace::Emit(std::string(name) + ": aborted");
      return outcome;
    }
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
