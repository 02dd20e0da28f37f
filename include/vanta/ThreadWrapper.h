// The small thread runtime on which the negotiation runner is built: a
// runnable interface, a named thread, and a wrapper that runs one Runnable
// on one worker thread and keeps its result.
#ifndef VANTA_THREAD_WRAPPER_H_
#define VANTA_THREAD_WRAPPER_H_

#include <memory>
#include <string>

#include "vanta/ErrorCode.h"
#include "vanta/Export.h"

namespace vanta {

// Work that a ThreadWrapper runs once on its worker thread.
class VANTA_EXPORT Runnable {
 public:
  virtual ~Runnable();
  virtual ErrorCode Run() = 0;
};

struct ThreadState {
  enum type {
    IDLE = 0,          // not started, or initialised but not started
    RUNNING = 1,       // the worker is inside Run
    TERM_REQUEST = 2,  // termination has been requested
    FINISHED = 3,      // Run has returned
  };
};

class VANTA_EXPORT Thread {
 public:
  Thread();
  virtual ~Thread();

  // The name is given to the worker thread when it starts (cut to what the
  // system allows). The priority is kept for the platform; it has no effect
  // on Linux.
  void SetName(const char* name);
  void SetPriority(int priority);

  // Blocks the calling thread for the given time. Always returns 0.
  static ErrorCode Sleep(unsigned int milliseconds);

 protected:
  std::string name_;
  int priority_;
};

// Runs one Runnable on one worker thread. Not thread-safe: one owner thread
// calls every operation; the worker only runs Runnable::Run.
class VANTA_EXPORT ThreadWrapper : public Thread {
 public:
  ThreadWrapper();
  // A copy takes the name and priority, never the runnable or the thread:
  // it must be initialised before it can start. Assigning to a wrapper
  // whose thread still runs waits for that thread first.
  ThreadWrapper(const ThreadWrapper& other);
  ThreadWrapper& operator=(const ThreadWrapper& other);
  // Joins a thread that is still running.
  ~ThreadWrapper() override;

  // Fails (bit 31 set) for a null runnable or while a thread is running.
  // Resets the result to 0.
  ErrorCode Initialize(Runnable* runnable);
  // Starts the worker. Fails when not initialised or already started since
  // the last Initialize.
  ErrorCode Start();
  // Safe to call while the worker runs. TERM_REQUEST while a Join waits
  // for a worker that is still inside Run.
  ThreadState::type GetState();
  // Waits until the worker has left Run; returns at once when it never
  // started. Stores Run's result in *result when result is not null.
  // Always returns 0.
  ErrorCode Join(ErrorCode* result);
  // The code that Run returned (0 before it has returned).
  ErrorCode GetResult() const;

 private:
  struct Control;
  Runnable* runnable_;
  std::unique_ptr<Control> control_;
};

}  // namespace vanta

#endif  // VANTA_THREAD_WRAPPER_H_
