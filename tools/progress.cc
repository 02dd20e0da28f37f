#include "tools/progress.h"

#include <cstdio>

namespace vanta {
namespace tools {

namespace {

// What each step of the run means to the user, in StepReport::Step order.
const char* StepMeaning(StepReport::Step::type step) {
  static const char* const kMeanings[] = {"starting",
                                          "requesting the token",
                                          "requesting the access token",
                                          "requesting the game service",
                                          "building the device identifier",
                                          "registering the device identifier with the web API",
                                          "writing the key file"};
  const int index = static_cast<int>(step);
  return index >= 0 && index <= StepReport::Step::KEY_FILE ? kMeanings[index]
                                                           : "in an unknown step";
}

double Seconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

}  // namespace

Progress::Progress(const WebServiceAccessor* accessor, bool live, bool shown)
    : accessor_(accessor), live_(live), shown_(shown), started_(Clock::now()) {}

void Progress::OnState(WebServiceAccessor::State::type, void* context) {
  static_cast<Progress*>(context)->Update();
}

void Progress::Update() {
  // Read under the lock: the worker's handler and the owner's tick never
  // take an older step for a newer one.
  std::lock_guard<std::mutex> lock(mu_);
  const StepProgress now = accessor_->GetProgress();
  if (now.step == seen_.step && now.attempt == seen_.attempt) return;
  seen_ = now;
  seen_since_ = Clock::now();
  if (shown_ && !live_) std::fprintf(stderr, "negotiate: %s\n", Activity().c_str());
}

// The retry rule waits N s before attempt N (2 s before the second, 3 s
// before the third). The first attempt goes without saying on its own line.
std::string Progress::Activity() const {
  std::string text = StepMeaning(seen_.step);
  const int n = seen_.attempt;
  if (n > 1 || (n == 1 && live_)) text += ", attempt " + std::to_string(n) + " of 3";
  if (n > 1) text += " after a " + std::to_string(n) + " s wait";
  return text;
}

void Progress::Tick() {
  Update();
  std::lock_guard<std::mutex> lock(mu_);
  if (!live_ || !shown_) return;
  const Clock::time_point now = Clock::now();
  // A failed attempt's wait for the next one shows as the time since that
  // attempt began growing: the line never counts down.
  std::string line = Activity();
  if (seen_.attempt > 0) {
    char since[32];
    std::snprintf(since, sizeof(since), " began %.1f s ago", Seconds(now - seen_since_));
    line += since;
  }
  std::fprintf(stderr, "\r\033[Knegotiate: %s; %.1f s in all", line.c_str(),
               Seconds(now - started_));
  std::fflush(stderr);
}

void Progress::Finish() {
  std::lock_guard<std::mutex> lock(mu_);
  if (live_ && shown_) std::fputs("\r\033[K", stderr);
}

}  // namespace tools
}  // namespace vanta
