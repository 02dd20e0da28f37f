// The progress of a negotiation on stderr, from the accessor's progress
// (step and attempt): on a terminal one live line, otherwise one line per
// step and attempt.
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
  // REQUIRES: accessor outlives its run and this.
  Progress(const WebServiceAccessor* accessor, bool live, bool shown);

  // The accessor's state handler (on the worker thread): takes the new
  // step at once; context is the Progress.
  static void OnState(WebServiceAccessor::State::type state, void* context);

  // Takes the step the run is in and redraws the live line; on the owner's
  // thread while the run goes.
  void Tick();
  // Clears the live line once the run has ended.
  void Finish();

 private:
  // Notes a new step or attempt, and prints it when not live.
  void Update();
  // "requesting the token, attempt 2 of 3 after a 2 s wait".
  // REQUIRES: mu_ held.
  std::string Activity() const;

  using Clock = std::chrono::steady_clock;
  const WebServiceAccessor* const accessor_;
  const bool live_;
  const bool shown_;
  const Clock::time_point started_;
  std::mutex mu_;
  StepProgress seen_;  // INITIALIZE: nothing to show yet
  Clock::time_point seen_since_;
};

}  // namespace tools
}  // namespace vanta

#endif  // VANTA_TOOLS_PROGRESS_H_
