#include "vanta/ThreadWrapper.h"

#include <atomic>
#include <cstdint>
#include <new>
#include <string>
#include <thread>

#if defined(__linux__)
#include <pthread.h>
#endif

namespace vanta {

namespace {

// Linux keeps at most 15 bytes of a thread name (plus the terminator).
void NameCurrentThread(const std::string& name) {
#if defined(__linux__)
  if (!name.empty()) pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
#else
  (void)name;
#endif
}

}  // namespace

// The worker and what it shares with the owner. `state` and `result` are
// written by the worker while the owner may read them, hence atomic;
// `worker` and `started` belong to the owner alone.
struct ThreadWrapper::Control {
  std::thread worker;
  bool started = false;
  std::atomic<int> state{ThreadState::IDLE};
  std::atomic<uint32_t> result{WS_SUCCESS};
};

// Without memory for its Control a wrapper cannot be initialised; the
// constructors themselves never throw.
ThreadWrapper::ThreadWrapper() : runnable_(nullptr), control_(new (std::nothrow) Control) {}

ThreadWrapper::ThreadWrapper(const ThreadWrapper& other)
    : Thread(other), runnable_(nullptr), control_(new (std::nothrow) Control) {}

ThreadWrapper& ThreadWrapper::operator=(const ThreadWrapper& other) {
  if (this != &other) {
    Join(nullptr);
    Thread::operator=(other);
    runnable_ = nullptr;
    control_.reset(new (std::nothrow) Control);
  }
  return *this;
}

ThreadWrapper::~ThreadWrapper() { Join(nullptr); }

ErrorCode ThreadWrapper::Initialize(Runnable* runnable) {
  if (runnable == nullptr || control_ == nullptr) return WS_ERROR_FAILED;
  if (control_->started) {
    if (control_->state.load() != ThreadState::FINISHED) return WS_ERROR_FAILED;
    if (control_->worker.joinable()) control_->worker.join();
    control_->started = false;
  }
  runnable_ = runnable;
  control_->state.store(ThreadState::IDLE);
  control_->result.store(WS_SUCCESS);
  return WS_SUCCESS;
}

ErrorCode ThreadWrapper::Start() {
  if (runnable_ == nullptr || control_->started) return WS_ERROR_FAILED;
  Control* control = control_.get();
  Runnable* runnable = runnable_;
  control->state.store(ThreadState::RUNNING);
  try {
    control->worker = std::thread([control, runnable, name = name_] {
      NameCurrentThread(name);
      control->result.store(runnable->Run().GetValue());
      control->state.store(ThreadState::FINISHED);
    });
  } catch (const std::exception&) {  // no thread, or no memory for one
    control->state.store(ThreadState::IDLE);
    return WS_ERROR_FAILED;
  }
  control->started = true;
  return WS_SUCCESS;
}

ThreadState::type ThreadWrapper::GetState() {
  if (control_ == nullptr) return ThreadState::IDLE;
  return static_cast<ThreadState::type>(control_->state.load());
}

ErrorCode ThreadWrapper::Join(ErrorCode* result) {
  if (control_ == nullptr) {
    if (result != nullptr) *result = WS_SUCCESS;
    return WS_SUCCESS;
  }
  if (control_->worker.joinable()) {
    // Tell a worker that is still inside Run that its owner is waiting.
    int running = ThreadState::RUNNING;
    control_->state.compare_exchange_strong(running, ThreadState::TERM_REQUEST);
    control_->worker.join();
  }
  if (result != nullptr) *result = ErrorCode(control_->result.load());
  return WS_SUCCESS;
}

ErrorCode ThreadWrapper::GetResult() const {
  return control_ == nullptr ? ErrorCode(WS_SUCCESS) : ErrorCode(control_->result.load());
}

}  // namespace vanta
