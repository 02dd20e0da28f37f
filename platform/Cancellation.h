// A flag that ends waits: once Cancel() has been called, IsCancelled() is
// true until Reset(), and every Env::WaitMillis on it returns at once.
// Thread-safe: any thread may cancel while others wait or look.
#ifndef VANTA_PLATFORM_CANCELLATION_H_
#define VANTA_PLATFORM_CANCELLATION_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vanta {

class Cancellation {
 public:
  Cancellation() = default;
  Cancellation(const Cancellation&) = delete;
  Cancellation& operator=(const Cancellation&) = delete;

  // Raises the flag and wakes every waiter. Never waits for anything but
  // the few instructions a waiter holds the mutex for.
  void Cancel() {
    std::lock_guard<std::mutex> lock(mu_);
    cancelled_.store(true);
    raised_.notify_all();
  }
  bool IsCancelled() const { return cancelled_.load(); }
  // REQUIRES: nobody waits on the flag.
  void Reset() { cancelled_.store(false); }

  // Blocks for at most milliseconds or until the flag is raised; true when
  // it is raised. Env::WaitMillis is the one caller: use that.
  bool WaitFor(unsigned milliseconds) {
    std::unique_lock<std::mutex> lock(mu_);
    return raised_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [this] { return cancelled_.load(); });
  }

 private:
  std::mutex mu_;
  std::condition_variable raised_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace vanta

#endif  // VANTA_PLATFORM_CANCELLATION_H_
