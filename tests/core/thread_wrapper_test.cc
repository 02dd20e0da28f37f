#include "vanta/ThreadWrapper.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace vanta {
namespace {

// Records what the worker sees and returns a chosen code.
class Probe : public Runnable {
 public:
  explicit Probe(ThreadWrapper* wrapper = nullptr) : wrapper_(wrapper) {}
  ErrorCode Run() override {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof(name));
    thread_name = name;
    ++runs;
    // With a wrapper: wait (bounded) until the owner's Join asks to end.
    for (int i = 0; wrapper_ != nullptr && i < 10000; ++i) {
      if (wrapper_->GetState() == ThreadState::TERM_REQUEST) return 0x8000000Au;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0x80000001u;
  }
  std::string thread_name;
  std::atomic<int> runs{0};

 private:
  ThreadWrapper* wrapper_;
};

TEST(ThreadWrapperTest, RunsOnceOnANamedThreadAndKeepsTheResult) {
  Probe probe;
  ThreadWrapper wrapper;
  ErrorCode result = 7;
  EXPECT_EQ(wrapper.Join(&result), WS_SUCCESS);  // never started: at once
  EXPECT_EQ(result, WS_SUCCESS);
  EXPECT_EQ(wrapper.Start(), WS_ERROR_FAILED);
  EXPECT_EQ(wrapper.Initialize(nullptr), WS_ERROR_FAILED);

  wrapper.SetName("WebServiceAccessor");
  wrapper.SetPriority(1000);
  ASSERT_EQ(wrapper.Initialize(&probe), WS_SUCCESS);
  ASSERT_EQ(wrapper.Start(), WS_SUCCESS);
  EXPECT_EQ(wrapper.Start(), WS_ERROR_FAILED);
  EXPECT_EQ(wrapper.Join(&result), WS_SUCCESS);
  EXPECT_EQ(result, 0x80000001u);
  EXPECT_EQ(wrapper.GetResult(), 0x80000001u);
  EXPECT_EQ(wrapper.GetState(), ThreadState::FINISHED);
  EXPECT_EQ(probe.thread_name, "WebServiceAcces");  // cut to 15 bytes

  // A copy has the name but no runnable; the original runs again once
  // initialised anew.
  ThreadWrapper copy(wrapper);
  EXPECT_EQ(copy.Start(), WS_ERROR_FAILED);
  ASSERT_EQ(wrapper.Initialize(&probe), WS_SUCCESS);
  EXPECT_EQ(wrapper.GetResult(), WS_SUCCESS);
  ASSERT_EQ(wrapper.Start(), WS_SUCCESS);
  wrapper.Join(nullptr);
  EXPECT_EQ(probe.runs.load(), 2);
}

TEST(ThreadWrapperTest, JoinAsksARunningWorkerToEnd) {
  ThreadWrapper wrapper;
  Probe probe(&wrapper);
  Probe other;
  ASSERT_EQ(wrapper.Initialize(&probe), WS_SUCCESS);
  ASSERT_EQ(wrapper.Start(), WS_SUCCESS);
  EXPECT_EQ(wrapper.Initialize(&other), WS_ERROR_FAILED);  // still running
  ErrorCode result;
  wrapper.Join(&result);
  EXPECT_EQ(result, 0x8000000Au);  // the worker saw TERM_REQUEST
}

}  // namespace
}  // namespace vanta
