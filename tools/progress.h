// The progress of a negotiation on stderr, from the accessor's states only:
// on a terminal one live line, otherwise one line per state and attempt.
#ifndef VANTA_TOOLS_PROGRESS_H_
#define VANTA_TOOLS_PROGRESS_H_

#include <chrono>
#include <mutex>
#include <string>

#include <vanta/WebServiceAccessor.h>

namespace vanta {
namespace tools {

class Progress {
 public:
  // live: stderr is a terminal. shown: false prints nothing.
  Progress(bool live, bool shown);

  // The accessor's state handler (on the worker thread); context is the
  // Progress.
  static void OnState(WebServiceAccessor::State::type state, void* context);

  // Redraws the live line; on the owner's thread while the run goes.
  void Tick();
  // Clears the live line once the run has ended.
  void Finish();

 private:
  void Show(WebServiceAccessor::State::type state);
  // "attempt N of 3", with the wait that came before it. REQUIRES: mu_ held.
  std::string Attempt() const;

  using Clock = std::chrono::steady_clock;
  const bool live_;
  const bool shown_;
  const Clock::time_point started_;
  std::mutex mu_;
  int last_state_ = -1;
  int attempt_ = 0;
  bool counts_attempts_ = false;
  Clock::time_point state_since_;
  std::string activity_;
};

}  // namespace tools
}  // namespace vanta

#endif  // VANTA_TOOLS_PROGRESS_H_
