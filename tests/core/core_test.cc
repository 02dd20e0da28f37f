// The worker thread wrapper and the trace.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "core/NoThrow.h"
#include "core/Printable.h"
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

// Exceptions become codes: running out of memory its own, any other a failure.
TEST(NoThrowTest, ExceptionsBecomeCodes) {
  EXPECT_EQ(NoThrow([]() -> ErrorCode { throw std::bad_alloc(); }), WS_ERROR_OUT_OF_MEMORY);
  EXPECT_EQ(NoThrow([]() -> ErrorCode { throw std::length_error("x"); }), WS_ERROR_FAILED);
  EXPECT_EQ(NoThrow([] { return ErrorCode(WS_ERROR_TIMED_OUT); }), WS_ERROR_TIMED_OUT);
}

// What a trace line shows of texts that a server or the machine hands over.
TEST(TraceTest, SecretsAreShortenedAndTextsKeptToOneLine) {
  const std::pair<std::string, std::string> rows[] = {
      {trace::Secret("0123456789abcdef"), "0123... (16 bytes)"},
      {trace::Secret("k"), "k... (1 bytes)"},
      {trace::Printable("a\nb\tc\x7f"), "a\\x0Ab\\x09c\\x7F"},
      {trace::Printable(std::string(4, 'x'), 3), "xxx... (4 bytes)"},  // one byte over
  };
  for (const auto& [shown, expected] : rows) EXPECT_EQ(shown, expected);
}

// The one printable rule: valid UTF-8 stays, control characters (C0, DEL,
// C1) and bytes outside valid UTF-8 become \xNN; a limit never splits a
// character or an escape.
TEST(PrintableTest, KeepsUtf8AndEscapesControlsAndStrayBytes) {
  struct Row {
    std::string text;
    size_t max_bytes;
    std::string shown;
    bool cut;
  };
  const Row rows[] = {
      {"\xE2\x82\xAC\xF0\x9F\x8E\xAE", std::string::npos, "\xE2\x82\xAC\xF0\x9F\x8E\xAE", false},
      {std::string("a\0b", 3), std::string::npos, "a\\x00b", false},
      {"\x1B[31m\x7F", std::string::npos, "\\x1B[31m\\x7F", false},
      {"\x9BJ", std::string::npos, "\\x9BJ", false},                           // 8-bit CSI byte
      {"\xC2\x9Fx\xC2\xA0", std::string::npos, "\\xC2\\x9Fx\xC2\xA0", false},  // U+009F, U+00A0
      {"\xE0\x80\xAF", std::string::npos, "\\xE0\\x80\\xAF", false},           // overlong "/"
      {"\xED\xA0\x80", std::string::npos, "\\xED\\xA0\\x80", false},           // a surrogate
      {"\xF4\x90\x80\x80", std::string::npos, "\\xF4\\x90\\x80\\x80", false},  // past U+10FFFF
      {"\xE2\x82", std::string::npos, "\\xE2\\x82", false},                    // cut short
      {"ab\x01", 5, "ab", true},                                               // no half escape
      {"ab\x01", 6, "ab\\x01", false},
      {"a\xC3\xA9", 2, "a", true},  // no half character
      {"a\xC3\xA9", 3, "a\xC3\xA9", false},
  };
  for (const Row& row : rows) {
    bool cut = !row.cut;
    EXPECT_EQ(Printable(row.text, row.max_bytes, &cut), row.shown) << row.text;
    EXPECT_EQ(cut, row.cut) << row.text;
  }
}

}  // namespace
}  // namespace vanta
