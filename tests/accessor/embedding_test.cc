// What an embedding program relies on: Cancel wherever the run is, WaitFor,
// the state handler, the run report, and the registration's settings.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/accessor/RunnerFixture.h"

namespace vanta {
namespace {

using testing::Eventually;
using testing::kAccessPath;
using testing::kAllOk;
using testing::kGamePath;
using testing::kRegisterPath;
using testing::Reply;
using Step = StepReport::Step;
using EmbeddingTest = testing::RunnerTest;

// Cancel at each point of a run: the run ends as aborted at once (state 5,
// WS_ERROR_ABORTED), sends nothing after it and writes no key file; a
// cancel after the end changes nothing.
TEST_F(EmbeddingTest, CancelEndsTheRunWhereverItIs) {
  enum class Point { kBeforeStart, kRetryWait, kExchange, kHelper, kLock, kAfterEnd };
  struct Row {
    const char* name;
    Point point;
  };
  const Row rows[] = {
      {"before Start", Point::kBeforeStart},
      {"retry wait", Point::kRetryWait},
      {"exchange in flight", Point::kExchange},
      {"UUID helper", Point::kHelper},
      {"identity lock held by another build", Point::kLock},
      {"after the end", Point::kAfterEnd},
  };
  for (const Row& row : rows) {
    NewPeer();
    std::filesystem::remove(TempPath("key.tmp"));
    WebServiceAccessor accessor;
    std::atomic<bool> reached{false}, release{false};
    std::atomic<size_t> requests{0};  // when the run was cancelled
    auto cancel = [&] {
      requests = peer_->Requests().size();
      accessor.Cancel();
      accessor.Cancel();  // idempotent
    };
    LockAttempt other;
    if (row.point == Point::kRetryWait || row.point == Point::kLock) {
      if (row.point == Point::kLock) other = Env::Get()->TryLockFile(TempPath("id.lock"));
      if (row.point == Point::kRetryWait) peer_->SetAnswer(kAccessPath, Reply("{}", 500));
      env_.on_sleep = [&](unsigned) { cancel(); };
    } else if (row.point == Point::kExchange) {
      // Accepts the game service request and answers only when released.
      peer_->SetHandler(kGamePath, [&](const httplib::Request&, httplib::Response& res) {
        reached = true;
        Eventually([&] { return release.load(); });
        res.status = 500;
      });
    } else if (row.point == Point::kHelper) {
      WriteTemp("hang", "");
    }
    Prepare(accessor, true);
    if (row.point == Point::kBeforeStart) cancel();
    ASSERT_EQ(accessor.Start(), WS_SUCCESS) << row.name;
    if (row.point == Point::kExchange) {
      ASSERT_TRUE(Eventually([&] { return reached.load(); })) << row.name;
    } else if (row.point == Point::kHelper) {
      ASSERT_TRUE(Eventually([&] { return ReadTemp("pid").value_or("") != ""; })) << row.name;
    } else if (row.point == Point::kAfterEnd) {
      ASSERT_TRUE(accessor.WaitFor(-1, nullptr)) << row.name;
    }
    // The other rows cancel from the wait they reach.
    if (row.point == Point::kExchange || row.point == Point::kHelper ||
        row.point == Point::kAfterEnd) {
      cancel();
    }
    ErrorCode result = 1;
    ASSERT_TRUE(accessor.WaitFor(-1, &result)) << row.name;
    release = true;

    const bool ended_first = row.point == Point::kAfterEnd;
    EXPECT_EQ(result, ended_first ? WS_SUCCESS : WS_ERROR_ABORTED) << row.name;
    EXPECT_EQ(accessor.GetState(),
              ended_first ? WebServiceAccessor::State::COMPLETE : WebServiceAccessor::State::FAILED)
        << row.name;
    EXPECT_EQ(peer_->Requests().size(), requests) << row.name << ": a request after the cancel";
    EXPECT_EQ(ReadTemp("key.tmp").has_value(), ended_first) << row.name;
    if (row.point == Point::kRetryWait) {
      EXPECT_EQ(env_.Sleeps(), std::vector<unsigned>{2000}) << row.name;
    }
    if (row.point == Point::kExchange) {
      // Ended by the cancel, not by an answer or the time limit.
      const ExchangeReport last = accessor.GetRunReport().back().last;
      EXPECT_EQ(last.code, WS_ERROR_ABORTED) << row.name;
      EXPECT_EQ(last.transport_error, "cancelled") << row.name;
    }
    if (row.point == Point::kLock || row.point == Point::kHelper) {
      ASSERT_FALSE(accessor.GetRunReport().empty()) << row.name;
      EXPECT_EQ(accessor.GetRunReport().back().step, Step::DEVICE_ID) << row.name;
      EXPECT_EQ(accessor.GetRunReport().back().code, WS_ERROR_ABORTED) << row.name;
    }
    if (row.point == Point::kHelper) {
      EXPECT_NE(accessor.GetRunReport().back().detail.find("stopped"), std::string::npos);
      EXPECT_TRUE(testing::ProcessEnded(std::stoi(*ReadTemp("pid")))) << row.name;
      std::filesystem::remove(TempPath("hang"));
      std::filesystem::remove(TempPath("pid"));
    }
    env_.on_sleep = nullptr;
    NewPeer();  // the held handler ends with its peer, before `release` goes
  }
}

// WaitFor returns at once without a run, false while the run is held, and
// true with the run's code once it has ended; the handler sees each
// published state once, in order, on the worker thread.
TEST_F(EmbeddingTest, WaitForAndTheStateHandler) {
  WebServiceAccessor accessor;
  ErrorCode result = 1;
  EXPECT_TRUE(accessor.WaitFor(0, &result));  // never started
  EXPECT_EQ(result, WS_SUCCESS);
  std::atomic<bool> reached{false}, release{false};
  peer_->SetHandler(kGamePath, [&](const httplib::Request&, httplib::Response& res) {
    reached = true;
    Eventually([&] { return release.load(); });
    res.status = 503;  // retried once: state 2 is published again
  });
  int attempts = 0;
  peer_->SetHandler(kRegisterPath, [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(++attempts == 1 ? "{}" : kAllOk[3].second.body, "application/json");
  });
  Start(accessor, false);
  ASSERT_TRUE(Eventually([&] { return reached.load(); }));
  EXPECT_FALSE(accessor.WaitFor(20, &result));
  peer_->SetAnswer(kGamePath, kAllOk[2].second);  // for the second attempt
  release = true;
  EXPECT_TRUE(accessor.WaitFor(-1, &result));
  EXPECT_EQ(result, WS_SUCCESS);
  EXPECT_EQ(accessor.GetResult(), WS_SUCCESS);
  EXPECT_EQ(States(), (std::vector<int>{1, 2, 2, 3, 4}));
  EXPECT_EQ(trace_.States(), States());
  // A new run after WaitFor: Initialize finds the worker gone.
  Start(accessor, false);
  EXPECT_TRUE(accessor.WaitFor(-1, &result));
  EXPECT_EQ(States(), (std::vector<int>{1, 2, 3, 4}));
}

// The run report tells, per step that ran, its attempts, its code and its
// last exchange; peer texts are printable.
TEST_F(EmbeddingTest, RunReportSaysWhyARunFailed) {
  const std::string closed = "http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort());
  struct Row {
    const char* name;
    std::function<void()> arrange;
    std::vector<Step::type> steps;                 // the steps that ran, in order
    int attempts;                                  // of the last step
    ErrorCode code;                                // of the last step
    std::function<void(const StepReport&)> check;  // of the last step
  };
  const Row rows[] = {
      {"HTTP 500",
       [&] { peer_->SetAnswer(kAccessPath, Reply("", 500)); },
       {Step::INITIALIZE, Step::ACCESS_TOKEN},
       3,
       WS_ERROR_SERVER_ERROR,
       [&](const StepReport& s) {
         EXPECT_EQ(s.last.method, "POST");
         EXPECT_EQ(s.last.address, peer_->Url(kAccessPath));
         EXPECT_EQ(s.last.http_status, 500);
         EXPECT_NE(s.last.transport_error, "");
         EXPECT_GT(s.last.bytes_sent, 0);
       }},
      {"refusal with a message",
       [&] {
         peer_->SetAnswer(kGamePath,
                          Reply(R"({"status":"ng","result":2,"message":"no\u009b[2J\nmore"})"));
       },
       {Step::INITIALIZE, Step::ACCESS_TOKEN, Step::GAME_SERVICE},
       1,
       WS_ERROR_SERVER_RESULT_2_5_6_7,
       [&](const StepReport& s) {
         EXPECT_EQ(s.last.http_status, 200);
         EXPECT_EQ(s.last.server_result, "2");
         EXPECT_EQ(s.last.server_message, "no\\xC2\\x9B[2J\\x0Amore");
         EXPECT_EQ(s.last.answer_excerpt, "");
       }},
      {"unreadable answer",
       [&] { peer_->SetAnswer(kAccessPath, Reply("<html>\x1b[31m" + std::string(80, 'x'))); },
       {Step::INITIALIZE, Step::ACCESS_TOKEN},
       1,
       WS_ERROR_BAD_RESPONSE,
       [&](const StepReport& s) {
         EXPECT_EQ(s.last.answer_excerpt, "<html>\\x1B[31m" + std::string(53, 'x'));
         EXPECT_EQ(s.last.server_result, "");
       }},
      {"refused connection",
       [&] { env_.web_api_origin = closed; },
       {Step::INITIALIZE, Step::ACCESS_TOKEN, Step::GAME_SERVICE, Step::DEVICE_ID,
        Step::REGISTRATION, Step::KEY_FILE},
       0,
       WS_SUCCESS,
       [&](const StepReport&) {}},
      {"unbuildable identifier",
       [&] { env_.SetVariable("ComSpec", TempPath("no-such-interpreter")); },
       {Step::INITIALIZE, Step::ACCESS_TOKEN, Step::GAME_SERVICE, Step::DEVICE_ID},
       0,
       WS_ERROR_FAILED,
       [&](const StepReport& s) { EXPECT_NE(s.detail.find("could not run"), std::string::npos); }},
      {"unwritable key file",
       [&] { std::filesystem::create_directory(TempPath("key.tmp")); },
       {Step::INITIALIZE, Step::ACCESS_TOKEN, Step::GAME_SERVICE, Step::DEVICE_ID,
        Step::REGISTRATION, Step::KEY_FILE},
       0,
       WS_ERROR_FAILED,
       [&](const StepReport& s) { EXPECT_NE(s.detail.find("key.tmp"), std::string::npos); }},
  };
  for (const Row& row : rows) {
    NewPeer();
    env_.SetVariable("ComSpec", VANTA_FAKE_INTERPRETER);
    std::filesystem::remove_all(TempPath("key.tmp"));
    row.arrange();
    WebServiceAccessor accessor;
    Start(accessor, false);
    ASSERT_TRUE(accessor.WaitFor(-1, nullptr));
    const std::vector<StepReport> report = accessor.GetRunReport();
    std::vector<Step::type> steps;
    for (const StepReport& step : report) steps.push_back(step.step);
    EXPECT_EQ(steps, row.steps) << row.name;
    if (report.empty()) continue;
    EXPECT_EQ(report.back().attempts, row.attempts) << row.name;
    EXPECT_EQ(report.back().code, row.code) << row.name;
    EXPECT_EQ(report.back().last.code, row.attempts > 0 ? row.code : ErrorCode(WS_SUCCESS))
        << row.name;
    row.check(report.back());
    if (row.steps.size() == 6 && row.code == ErrorCode(WS_SUCCESS)) {
      // A registration that gave up is told, though it failed nothing.
      const StepReport& registration = report[4];
      EXPECT_EQ(registration.attempts, 3) << row.name;
      EXPECT_EQ(registration.code, WS_ERROR_CONNECT_FAILED) << row.name;
      EXPECT_EQ(registration.last.address, closed + kRegisterPath) << row.name;
      EXPECT_EQ(registration.last.http_status, 0) << row.name;
    }
  }
}

// Without registration the run goes from 2 to 4 and keeps the key; with a
// web API origin of its own it registers there.
TEST_F(EmbeddingTest, RegistrationCanBeSwitchedOffOrPointedElsewhere) {
  testing::LocalPeer web_api;
  web_api.SetAnswer(kRegisterPath, kAllOk[3].second);
  for (bool register_device_id : {false, true}) {
    NewPeer();
    std::filesystem::remove(TempPath("key.tmp"));
    WebServiceAccessor accessor;
    accessor.SetRegisterDeviceId(register_device_id);
    accessor.SetWebApiOrigin(web_api.Url(""));
    Start(accessor, false);
    ASSERT_TRUE(accessor.WaitFor(-1, nullptr));
    const std::vector<int> states =
        register_device_id ? std::vector<int>{1, 2, 3, 4} : std::vector<int>{1, 2, 4};
    EXPECT_EQ(States(), states);
    EXPECT_EQ(peer_->RequestsTo(kRegisterPath).size(), 0u);
    EXPECT_EQ(web_api.RequestsTo(kRegisterPath).size(), register_device_id ? 1u : 0u);
    EXPECT_EQ(ReadTemp("key.tmp"), "k0");
  }
}

}  // namespace
}  // namespace vanta
