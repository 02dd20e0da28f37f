// A flag that ends waits: once Cancel() has been called, IsCancelled() is
// true until Reset(), every Env::WaitMillis on it returns at once, and the
// wake-up of a Waker in place is called (for waits that are not ours, such
// as libcurl's). Thread-safe: any thread may cancel while others wait or
// look.
#ifndef VANTA_PLATFORM_CANCELLATION_H_
#define VANTA_PLATFORM_CANCELLATION_H_

#include <atomic>
#include <chrono>
#include <functional>
#include <utility>

#include "platform/Mutex.h"

namespace vanta {

class Cancellation {
 public:
  Cancellation() = default;
  Cancellation(const Cancellation&) = delete;
  Cancellation& operator=(const Cancellation&) = delete;

  // Raises the flag and wakes every waiter. Never waits for anything but
  // the few instructions a waiter or a Waker holds the mutex for.
  void Cancel() VANTA_EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    cancelled_.store(true);
    raised_.SignalAll();
    if (wake_) wake_();
  }
  bool IsCancelled() const { return cancelled_.load(); }
  // REQUIRES: nobody waits on the flag.
  void Reset() { cancelled_.store(false); }

  // Blocks for at most milliseconds or until the flag is raised; true when
  // it is raised. Env::WaitMillis is the one caller: use that.
  bool WaitFor(unsigned milliseconds) VANTA_EXCLUDES(mu_) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    MutexLock lock(&mu_);
    while (!cancelled_.load()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      raised_.WaitFor(&mu_, left);
    }
    return cancelled_.load();
  }

  // While it exists, Cancel() also calls wake (which must not block). One
  // at a time per flag; a null flag makes it do nothing.
  class Waker {
   public:
    Waker(Cancellation* flag, std::function<void()> wake) : flag_(flag) {
      if (flag_ == nullptr) return;
      MutexLock lock(&flag_->mu_);
      flag_->wake_ = std::move(wake);
    }
    ~Waker() {
      if (flag_ == nullptr) return;
      MutexLock lock(&flag_->mu_);
      flag_->wake_ = nullptr;
    }
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

   private:
    Cancellation* const flag_;
  };

 private:
  Mutex mu_;
  CondVar raised_;
  std::atomic<bool> cancelled_{false};
  std::function<void()> wake_ VANTA_GUARDED_BY(mu_);
};

}  // namespace vanta

#endif  // VANTA_PLATFORM_CANCELLATION_H_
