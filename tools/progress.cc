#include "tools/progress.h"

#include <cstdio>

namespace vanta {
namespace tools {

namespace {

using State = WebServiceAccessor::State;

// What each state of the accessor means to the user.
const char* StateMeaning(int state) {
  static const char* const kMeanings[] = {"starting",
                                          "requesting the token and access token",
                                          "requesting the game service",
                                          "registering the device identifier with the web API",
                                          "complete",
                                          "failed"};
  return state >= 0 && state <= 5 ? kMeanings[state] : "in an unknown state";
}

double Seconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

}  // namespace

Progress::Progress(bool live, bool shown) : live_(live), shown_(shown), started_(Clock::now()) {}

void Progress::OnState(State::type state, void* context) {
  static_cast<Progress*>(context)->Show(state);
}

void Progress::Show(State::type state) {
  std::lock_guard<std::mutex> lock(mu_);
  if (state >= State::COMPLETE) return;
  // The game service and registration steps publish their state again
  // before each of their attempts (after the wait that precedes it).
  counts_attempts_ = state == State::REQUEST_GAMESERVICE || state == State::SEND_DEVICE_ID;
  attempt_ = state == last_state_ ? attempt_ + 1 : 1;
  last_state_ = state;
  state_since_ = Clock::now();
  activity_ = StateMeaning(state);
  if (shown_ && !live_) {
    std::fprintf(stderr, "negotiate: %s%s\n", activity_.c_str(),
                 attempt_ > 1 ? (", " + Attempt()).c_str() : "");
  }
}

// The retry rule waits N s before attempt N (2 s before the second, 3 s
// before the third).
std::string Progress::Attempt() const {
  std::string text = "attempt " + std::to_string(attempt_) + " of 3";
  if (attempt_ > 1) text += " after a " + std::to_string(attempt_) + " s wait";
  return text;
}

void Progress::Tick() {
  std::lock_guard<std::mutex> lock(mu_);
  if (!live_ || !shown_ || activity_.empty()) return;
  const Clock::time_point now = Clock::now();
  // A failed attempt's wait for the next one shows as the time since that
  // attempt began growing: the line never counts down.
  std::string line = activity_;
  if (counts_attempts_) {
    char since[32];
    std::snprintf(since, sizeof(since), " began %.1f s ago", Seconds(now - state_since_));
    line += ", " + Attempt() + since;
  }
  std::fprintf(stderr, "\r\033[Knegotiate: %s; %.1f s in all", line.c_str(),
               Seconds(now - started_));
  std::fflush(stderr);
}

void Progress::Finish() {
  std::lock_guard<std::mutex> lock(mu_);
  if (live_ && shown_ && !activity_.empty()) std::fputs("\r\033[K", stderr);
}

}  // namespace tools
}  // namespace vanta
