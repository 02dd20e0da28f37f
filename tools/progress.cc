#include "tools/progress.h"

#include <cstdio>

namespace vanta {
namespace tools {

namespace {

using Step = StepReport::Step;

// What each step of the run means to the user.
const char* StepMeaning(Step::type step) {
  switch (step) {
    case Step::INITIALIZE:
      return "starting";
    case Step::TOKEN:
      return "requesting the token";
    case Step::ACCESS_TOKEN:
      return "requesting the access token";
    case Step::GAME_SERVICE:
      return "requesting the game service";
    case Step::DEVICE_ID:
      return "building the device identifier";
    case Step::REGISTRATION:
      return "registering the device identifier with the web API";
    case Step::KEY_FILE:
      return "writing the key file";
  }
  return "in an unknown step";
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
