// A mutex, its scoped lock and a condition variable that clang's
// thread-safety analysis (-Wthread-safety) understands: members name the
// mutex that guards them (VANTA_GUARDED_BY), functions what they must hold
// (VANTA_REQUIRES) or must not (VANTA_EXCLUDES), and the analysis checks
// every access at compile time. Other compilers see plain standard types.
#ifndef VANTA_PLATFORM_MUTEX_H_
#define VANTA_PLATFORM_MUTEX_H_

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>

#if defined(__clang__)
#define VANTA_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VANTA_THREAD_ANNOTATION(x)
#endif

#define VANTA_CAPABILITY(x) VANTA_THREAD_ANNOTATION(capability(x))
#define VANTA_SCOPED_CAPABILITY VANTA_THREAD_ANNOTATION(scoped_lockable)
#define VANTA_GUARDED_BY(x) VANTA_THREAD_ANNOTATION(guarded_by(x))
#define VANTA_PT_GUARDED_BY(x) VANTA_THREAD_ANNOTATION(pt_guarded_by(x))
#define VANTA_REQUIRES(...) VANTA_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define VANTA_EXCLUDES(...) VANTA_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define VANTA_ACQUIRE(...) VANTA_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define VANTA_ACQUIRE_SHARED(...) VANTA_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define VANTA_RELEASE(...) VANTA_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define VANTA_RELEASE_SHARED(...) VANTA_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define VANTA_RELEASE_GENERIC(...) VANTA_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))

namespace vanta {

class VANTA_CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() VANTA_ACQUIRE() { mu_.lock(); }
  void Unlock() VANTA_RELEASE() { mu_.unlock(); }

 private:
  friend class CondVar;
  std::mutex mu_;
};

// Holds mu from construction to destruction.
class VANTA_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mu) VANTA_ACQUIRE(mu) : mu_(mu) { mu_->Lock(); }
  ~MutexLock() VANTA_RELEASE() { mu_->Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* const mu_;
};

// Many readers or one writer.
class VANTA_CAPABILITY("shared mutex") SharedMutex {
 public:
  SharedMutex() = default;
  SharedMutex(const SharedMutex&) = delete;
  SharedMutex& operator=(const SharedMutex&) = delete;

  void Lock() VANTA_ACQUIRE() { mu_.lock(); }
  void Unlock() VANTA_RELEASE() { mu_.unlock(); }
  void LockShared() VANTA_ACQUIRE_SHARED() { mu_.lock_shared(); }
  void UnlockShared() VANTA_RELEASE_SHARED() { mu_.unlock_shared(); }

 private:
  std::shared_mutex mu_;
};

// Holds mu shared (as a reader) from construction to destruction.
class VANTA_SCOPED_CAPABILITY ReaderLock {
 public:
  explicit ReaderLock(SharedMutex* mu) VANTA_ACQUIRE_SHARED(mu) : mu_(mu) { mu_->LockShared(); }
  ~ReaderLock() VANTA_RELEASE_GENERIC() { mu_->UnlockShared(); }
  ReaderLock(const ReaderLock&) = delete;
  ReaderLock& operator=(const ReaderLock&) = delete;

 private:
  SharedMutex* const mu_;
};

// Holds mu exclusively (as the writer) from construction to destruction.
class VANTA_SCOPED_CAPABILITY WriterLock {
 public:
  explicit WriterLock(SharedMutex* mu) VANTA_ACQUIRE(mu) : mu_(mu) { mu_->Lock(); }
  ~WriterLock() VANTA_RELEASE() { mu_->Unlock(); }
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;

 private:
  SharedMutex* const mu_;
};

// A condition variable. Each wait names the Mutex it releases while it
// waits and holds again on return; the analysis checks it is held.
class CondVar {
 public:
  CondVar() = default;
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  void Wait(Mutex* mu) VANTA_REQUIRES(mu) {
    std::unique_lock<std::mutex> lock(mu->mu_, std::adopt_lock);
    cv_.wait(lock);
    lock.release();
  }
  // As Wait, for at most milliseconds; false when the time ran out.
  bool WaitFor(Mutex* mu, std::chrono::milliseconds milliseconds) VANTA_REQUIRES(mu) {
    std::unique_lock<std::mutex> lock(mu->mu_, std::adopt_lock);
    const bool woken = cv_.wait_for(lock, milliseconds) == std::cv_status::no_timeout;
    lock.release();
    return woken;
  }
  void SignalAll() { cv_.notify_all(); }

 private:
  std::condition_variable cv_;
};

}  // namespace vanta

#endif  // VANTA_PLATFORM_MUTEX_H_
