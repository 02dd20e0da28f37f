// What an embedding program relies on: Cancel wherever the run is, WaitFor,
// the state handler, the registration's settings, and the run report that
// tells why a run failed.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "accessor/DeviceId.h"
#include "tests/accessor/RunnerFixture.h"

namespace vanta {
namespace {

using testing::Eventually;
using testing::kAccessPath;
using testing::kAllOk;
using testing::kGamePath;
using testing::kRegisterPath;
using testing::Reply;
using EmbeddingTest = testing::RunnerTest;

// Reports of runs that got this far, as RunnerTest::Describe shows them;
// kKept: the steps after the game service, up to the key file.
const std::string kAccessed = "initialize | access token x1 accesstoken 200";
const std::string kServed = kAccessed + " | game service x1 gameservice 200";
const std::string kKept =
    " | device identifier | registration x1 " + kRegisterPath + " 200 | key file";

std::string NotBuilt(DeviceIdFailure failure, const char* code = "WS_ERROR_FAILED") {
  return kServed + " | device identifier " + code + " (" + DeviceIdFailureText(failure) + ")";
}

// Cancel, or the accessor's destruction, at each point of a run: the run
// ends as aborted at once (state 5), sends nothing after it and writes no
// key file.
TEST_F(EmbeddingTest, CancelOrDestructionEndsTheRunWhereverItIs) {
  enum class Point { kBeforeStart, kRetryWait, kExchange, kHelper, kLock };
  struct Row {
    const char* name;
    Point point;
    bool destroy;         // instead of Cancel(): no report left to tell
    std::string outcome;  // as Finish tells it, or Published once destroyed
  };
  const std::string stopped = NotBuilt(DeviceIdFailure::kQueryAborted, "WS_ERROR_ABORTED");
  const Row rows[] = {
      {"before Start", Point::kBeforeStart, false, "1 5 / / old / "},
      {"retry wait", Point::kRetryWait, false,
       "1 5 / 2000 / old / initialize | access token x1 WS_ERROR_ABORTED accesstoken 500 error"},
      {"registration in flight", Point::kExchange, false,
       "1 2 3 5 / / old / " + kServed + " | device identifier | registration x1 " +
           "WS_ERROR_ABORTED " + kRegisterPath + " 0 cancelled"},
      {"UUID helper", Point::kHelper, false, "1 2 5 / / old / " + stopped},
      {"identity lock held by another build", Point::kLock, false, "1 2 5 / 10 / old / " + stopped},
      // The destructor lets the exchange in flight end, then stops.
      {"destroyed in the registration", Point::kExchange, true, "1 2 3 5 / / old"},
      {"destroyed in the UUID helper", Point::kHelper, true, "1 2 5 / / old"},
  };
  for (const Row& row : rows) {
    const Point point = row.point;
    NewPeer();
    WriteTemp("key.tmp", "old");
    auto accessor = std::make_unique<WebServiceAccessor>();
    WebServiceAccessor* const held = accessor.get();
    std::atomic<bool> reached{false}, release{false};
    std::atomic<size_t> requests{0};  // when the run was stopped
    auto stop = [&] {
      requests = peer_->Requests().size();
      if (row.destroy) return accessor.reset();
      accessor->Cancel();
      accessor->Cancel();  // idempotent
    };
    LockAttempt other;
    if (point == Point::kLock) other = Env::Get()->TryLockFile(TempPath("id.lock"));
    if (point == Point::kRetryWait) peer_->SetAnswer(kAccessPath, Reply("{}", 500));
    // Those rows cancel from the wait they reach, the others below.
    if (point == Point::kRetryWait || point == Point::kLock)
      env_.on_sleep = [&](unsigned) { stop(); };
    if (point == Point::kExchange) {
      // Accepts the registration and answers only when released, or once
      // the destructor waits for the run.
      peer_->SetHandler(kRegisterPath, [&](const httplib::Request&, httplib::Response& res) {
        reached = true;
        Eventually([&] { return release.load() || held->IsTermRequest(); });
        res.status = 500;
      });
    }
    if (point == Point::kHelper) WriteTemp("hang", "");
    Prepare(*accessor, false);
    if (point == Point::kBeforeStart) stop();
    ASSERT_EQ(accessor->Start(), WS_SUCCESS) << row.name;
    if (point == Point::kExchange || point == Point::kHelper) {
      ASSERT_TRUE(Eventually([&] {
        return point == Point::kExchange ? reached.load() : ReadTemp("pid").value_or("") != "";
      })) << row.name;
      stop();
    }
    EXPECT_EQ(row.destroy ? Published() : Finish(*accessor), row.outcome) << row.name;
    release = true;
    EXPECT_EQ(peer_->Requests().size(), requests) << row.name << ": a request after the stop";
    if (point == Point::kHelper) {
      // Stopped at once, not at the query's time limit.
      EXPECT_EQ(trace_.With("query was stopped").size(), 1u) << row.name;
      EXPECT_TRUE(testing::ProcessEnded(std::stoi(*ReadTemp("pid")))) << row.name;
      std::filesystem::remove(TempPath("hang"));
      std::filesystem::remove(TempPath("pid"));
    }
    env_.on_sleep = nullptr;
    NewPeer();  // the held handler ends with its peer, before the accessor
  }
}

// WaitFor returns at once without a run, false while the run is held, and
// true with the run's code once it has ended; the handler sees each
// published state once, in order, on the worker thread; the progress names
// the step and attempt that each request belongs to.
TEST_F(EmbeddingTest, WaitForAndTheStateHandler) {
  WebServiceAccessor accessor;
  ErrorCode result = 1;
  EXPECT_TRUE(accessor.WaitFor(0, &result));  // never started
  EXPECT_EQ(result, WS_SUCCESS);
  std::atomic<bool> reached{false}, release{false};
  std::mutex mu;
  std::string seen;  // the progress each attempt found
  auto note = [&] {  // appends the progress now; returns all noted
    std::lock_guard<std::mutex> lock(mu);
    const StepProgress now = accessor.GetProgress();
    return seen += StepName(now.step) + std::string(" ") + std::to_string(now.attempt) + ";";
  };
  peer_->SetHandler(kGamePath, [&](const httplib::Request&, httplib::Response& res) {
    note();
    if (reached.exchange(true)) return res.set_content(kAllOk[2].second.body, "application/json");
    Eventually([&] { return release.load(); });
    res.status = 503;  // retried once: state 2 is published again
  });
  Start(accessor, false);
  ASSERT_TRUE(Eventually([&] { return reached.load(); }));
  EXPECT_FALSE(accessor.WaitFor(20, &result));
  release = true;
  EXPECT_EQ(Finish(accessor),
            "1 2 2 3 4 / 2000 / k0 / " + kAccessed + " | game service x2 gameservice 200" + kKept);
  EXPECT_EQ(accessor.GetResult(), WS_SUCCESS);
  EXPECT_EQ(note(), "game service 1;game service 2;key file 0;");
  // A Cancel() after the end reaches no later run. Initialize finds the
  // worker gone, clears the report and the progress, and its IDLE reaches
  // no handler.
  accessor.Cancel();
  Prepare(accessor, false);
  EXPECT_TRUE(accessor.GetRunReport().empty());
  EXPECT_EQ(note(), "game service 1;game service 2;key file 0;initialize 0;");
  ASSERT_EQ(accessor.Start(), WS_SUCCESS);
  EXPECT_EQ(Finish(accessor), "1 2 3 4 / / k0 / " + kServed + kKept);
}

// Each step runs under the retry rule: at most three attempts, 2 s and 3 s
// apart, fewer when an answer settles it. A dispatcher step that gives up
// ends the run with FAILED and its code. The identifier and the
// registration gate nothing; the key file is written after the
// registration, if any. The report tells, per step that ran, its attempts,
// its code and its last exchange, with the peer's texts printable.
TEST_F(EmbeddingTest, StepsRetryGiveUpAndReportWhy) {
  const std::string closed = "http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort());
  testing::LocalPeer web_api;  // the web API of SetWebApiOrigin
  web_api.SetAnswer(kRegisterPath, Reply(R"({"status":10,"message":"elsewhere"})"));
  LockAttempt other;  // another build's
  using Failure = DeviceIdFailure;
  struct Row {
    const char* name;
    std::function<void(WebServiceAccessor&)> arrange;
    std::string outcome;
  };
  const Row rows[] = {
      {"HTTP 500, three times", [&](auto&) { peer_->SetAnswer(kAccessPath, Reply("", 500)); },
       "1 5 / 2000 3000 / old / initialize | access token x3 WS_ERROR_SERVER_ERROR accesstoken "
       "500 error"},
      {"refusal with a message",
       [&](auto&) {
         peer_->SetAnswer(kGamePath,
                          Reply(R"({"status":"ng","result":2,"message":"no\u009b[2J\nmore)" +
                                std::string(250, 'x') + "\"}"));
       },
       "1 2 5 / / old / " + kAccessed + " | game service x1 WS_ERROR_SERVER_RESULT_2_5_6_7 " +
           "gameservice 200 result 2 \"no\\xC2\\x9B[2J\\x0Amore" + std::string(179, 'x') + "\""},
      {"unreadable answer",
       [&](auto&) {
         peer_->SetAnswer(kAccessPath, Reply("<html>\x1b[31m" + std::string(80, 'x')));
       },
       "1 5 / / old / initialize | access token x1 WS_ERROR_BAD_RESPONSE accesstoken 200 excerpt "
       "\"<html>\\x1B[31m" +
           std::string(53, 'x') + "\""},
      {"web API unreachable", [&](auto&) { env_.web_api_origin = closed; },
       "1 2 3 3 3 4 / 2000 3000 / k0 / " + kServed +
           " | device identifier | registration x3 WS_ERROR_CONNECT_FAILED " + kRegisterPath +
           " 0 error | key file"},
      {"web API of its own", [&](auto& a) { a.SetWebApiOrigin(web_api.Url("")); },
       "1 2 3 4 / / k0 / " + kServed + " | device identifier | registration x1 " +
           "WS_ERROR_SERVER_RESULT_10 " + kRegisterPath + " 200 result 10 \"\" | key file"},
      {"no registration", [&](auto& a) { a.SetRegisterDeviceId(false); },
       "1 2 4 / / k0 / " + kServed + " | key file"},
      {"no interpreter", [&](auto&) { env_.SetVariable("ComSpec", TempPath("no-interpreter")); },
       "1 2 4 / / old / " + NotBuilt(Failure::kQueryNotStarted)},
      {"lock held to its time limit",
       [&](auto&) {
         other = Env::Get()->TryLockFile(TempPath("id.lock"));
         env_.on_sleep = [&](unsigned) { env_.clock_jump_ms = kLockWaitMs; };
       },
       "1 2 4 / 10 / old / " + NotBuilt(Failure::kLockBusy)},
      {"UUID file of another user", [&](auto&) { env_.files_of_another_user = {"id.tmp"}; },
       "1 2 4 / / old / " + NotBuilt(Failure::kUuidFileOfAnotherUser)},
      {"lock file of another user", [&](auto&) { env_.files_of_another_user = {"id.lock"}; },
       "1 2 4 / / old / " + NotBuilt(Failure::kLockFileOfAnotherUser)},
      {"key file of another user", [&](auto&) { env_.files_of_another_user = {"key.tmp"}; },
       "1 2 3 4 / / old / " + kServed + kKept + " WS_ERROR_FAILED (" + TempPath("key.tmp") +
           " belongs to another user: not written as a regular file of " + "this user)"},
  };
  for (const Row& row : rows) {
    NewPeer();
    env_.SetVariable("ComSpec", VANTA_FAKE_INTERPRETER);
    WriteTemp("key.tmp", "old");
    WebServiceAccessor accessor;
    row.arrange(accessor);
    Start(accessor, false);
    EXPECT_EQ(Finish(accessor), row.outcome) << row.name;
    env_.files_of_another_user.clear();
    env_.on_sleep = nullptr;
    other = LockAttempt();
  }
}

}  // namespace
}  // namespace vanta
