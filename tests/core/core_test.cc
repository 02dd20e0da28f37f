// The worker thread wrapper and the trace.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "core/Trace.h"
#include "vanta/ThreadWrapper.h"

namespace vanta {
namespace {

// Records the worker's name; with a wrapper, waits (bounded) for Join's request to end.
class Probe : public Runnable {
 public:
  explicit Probe(ThreadWrapper* wrapper = nullptr) : wrapper_(wrapper) {}
  ErrorCode Run() override {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof(name));
    thread_name = name;
    ++runs;
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
  ASSERT_EQ(wrapper.Initialize(&probe), WS_SUCCESS);
  ASSERT_EQ(wrapper.Start(), WS_SUCCESS);
  EXPECT_EQ(wrapper.Start(), WS_ERROR_FAILED);
  wrapper.Join(&result);
  EXPECT_EQ(result, 0x80000001u);
  EXPECT_EQ(wrapper.GetResult(), 0x80000001u);
  EXPECT_EQ(wrapper.GetState(), ThreadState::FINISHED);
#if defined(__linux__)
  // The worker is named on Linux only.
  EXPECT_EQ(probe.thread_name, "WebServiceAcces");  // cut to 15 bytes
#endif

  // A copy has no runnable. Initialised anew, the original resets its
  // result and runs again; Join asks a worker that still runs to end.
  EXPECT_EQ(ThreadWrapper(wrapper).Start(), WS_ERROR_FAILED);
  Probe waiting(&wrapper);
  ASSERT_EQ(wrapper.Initialize(&waiting), WS_SUCCESS);
  EXPECT_EQ(wrapper.GetResult(), WS_SUCCESS);
  ASSERT_EQ(wrapper.Start(), WS_SUCCESS);
  EXPECT_EQ(wrapper.Initialize(&probe), WS_ERROR_FAILED);  // still running
  wrapper.Join(&result);
  EXPECT_EQ(result, 0x8000000Au);
  EXPECT_EQ(probe.runs + waiting.runs, 2);
}

// What a trace line shows of texts that a server or the machine hands over.
TEST(TraceTest, SecretsAreShortenedAndTextsKeptToOneLine) {
  const std::pair<std::string, std::string> rows[] = {
      {trace::Secret("0123456789abcdef"), "0123... (16 bytes)"},
      {trace::Secret("k"), "k... (1 bytes)"},
      {trace::Printable("a\nb\tc\x7f"), "a b c "},
      {trace::Printable(std::string(4, 'x'), 3), "xxx... (4 bytes)"},  // one byte over
      {trace::Code(WS_ERROR_TIMED_OUT), "0xAC40C80C WS_ERROR_TIMED_OUT"},
  };
  for (const auto& [shown, expected] : rows) EXPECT_EQ(shown, expected);
}

}  // namespace
}  // namespace vanta
