// The negotiation runner: the device identifier, the retry rule, and whole
// negotiations of an accessor against a local peer that stands in for the
// dispatcher and the web API.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "accessor/DeviceId.h"
#include "accessor/Retry.h"
#include "tests/accessor/RunnerFixture.h"

namespace vanta {
namespace {

using testing::Answer;
using testing::Eventually;
using testing::kAccessPath;
using testing::kAllOk;
using testing::kGamePath;
using testing::kRegisterPath;
using testing::kTokenPath;
using testing::Reply;
using Status = AdapterAddress::Status;
using Failure = DeviceIdFailure;

using AccessorTest = testing::RunnerTest;

// One accessor runs twice: Initialize clears what the first run negotiated.
TEST_F(AccessorTest, CompleteRunsWithAndWithoutAFreshToken) {
  WebServiceAccessor accessor;
  EXPECT_EQ(
      (std::vector<int>{accessor.GetClientVersion(), accessor.GetVideoProfile(),
                        accessor.GetAudioProfile(), accessor.GetIoMouse(), accessor.GetIoTouch(),
                        accessor.GetIoKeyboard(), accessor.GetIoSensor(), accessor.GetIoGamepad(),
                        accessor.GetYuvItuRBt(), accessor.GetState()}),
      (std::vector<int>{0, 0, 2, 1, 1, 1, 0, 1, 709, 0}))
      << "the defaults of a fresh accessor";
  for (bool token_first : {true, false}) {
    NewPeer();
    // The owner's view of the state while each request is being answered.
    std::mutex mu;
    std::string seen;
    for (const auto& [path, answer] : kAllOk) {
      peer_->SetHandler(path, [&, path = path, body = answer.body](const httplib::Request&,
                                                                   httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mu);
        seen += path.substr(path.rfind('/') + 1) + std::to_string(accessor.GetState()) + " ";
        res.set_content(body, "application/json");
      });
    }
    const std::string key = token_first ? "K1" : "k0";
    Prepare(accessor, token_first);
    // Initialize has cleared what the first run negotiated.
    EXPECT_EQ(accessor.GetIpv4() + accessor.GetKey1() + accessor.GetAccessToken(), "");
    ASSERT_EQ(accessor.Start(), WS_SUCCESS);
    ErrorCode result = 1;
    accessor.Join(&result);
    EXPECT_EQ(result, WS_SUCCESS);
    EXPECT_EQ(States(), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(trace_.States(), States()) << "the trace shows the states the handler saw";
    EXPECT_EQ(seen, std::string(token_first ? "request_token1 " : "") +
                        "request_accesstoken1 request_gameservice2 SendDeviceId3 ");
    EXPECT_EQ(peer_->RequestsTo(kAccessPath).at(0).body,
              R"({"action":"request_accesstoken","client_version":3,"token":")" +
                  std::string(token_first ? "T1" : "t0") + R"(","try_count":1,"zuc_key_value":")" +
                  key + "\"}");
    EXPECT_EQ(Sent(kGamePath, "access_token"), std::vector<std::string>{"A1"});
    EXPECT_EQ(peer_->RequestsTo(kRegisterPath).at(0).body,
              R"({"client_version":"1.1.0","device_id":")" + ExpectedDeviceId() +
                  R"(","request_type":"0","zu_key_value":")" + key + "\"}");
    EXPECT_EQ(ReadTemp("key.tmp"), key);
    EXPECT_EQ(accessor.GetAccessToken() + accessor.GetZucKeyValue() + accessor.GetIpv4() +
                  accessor.GetIpv6() + accessor.GetKey1() + accessor.GetKey2(),
              "A1" + key + "10.1.2.3fe80::1k-1k-2");
    EXPECT_EQ(accessor.GetControlPort() + accessor.GetVideoPort() * 100 +
                  accessor.GetAudioPort() * 10000 + accessor.GetInputPort() * 1000000,
              14131211);
    EXPECT_EQ(accessor.GetQualityParams().audio_bitrate[0], 96);
  }
}

// Each step runs under the retry rule: at most three attempts, 2 s and 3 s
// apart, fewer when an answer settles it. A dispatcher step that gives up
// ends the run with FAILED and its last code. The registration and the
// identifier gate nothing; the key file is written after the registration,
// if any.
TEST_F(AccessorTest, StepsRetryAndGiveUp) {
  const Answer unlisted = Reply(R"({"status":"ng","result":0,"message":""})");
  const Answer refused = Reply(R"({"status":"ng","result":2,"message":"no"})");
  const Answer not_registered = Reply(R"({"status":2,"message":"no"})");
  const std::string unreachable = "web API unreachable", no_identifier = "no identifier";
  // Whether a token comes first; whose answers are scripted (or one of the
  // two cases above), the attempts, states, result and key file it gives.
  using Row = std::tuple<bool, std::string, std::vector<Answer>, size_t, std::vector<int>,
                         ErrorCode, std::string>;
  const Row rows[] = {
      {false, kAccessPath, {Reply("", 500)}, 3, {1, 5}, WS_ERROR_SERVER_ERROR, "old"},
      {false, kGamePath, {refused}, 1, {1, 2, 5}, WS_ERROR_SERVER_RESULT_2_5_6_7, "old"},
      {true, kTokenPath, {unlisted}, 3, {1, 5}, WS_ERROR_SERVER_ERROR, "old"},
      {false, kAccessPath, {Reply("<html>")}, 1, {1, 5}, WS_ERROR_BAD_RESPONSE, "old"},
      {false, kGamePath, {Reply("", 503), kAllOk[2].second}, 2, {1, 2, 2, 3, 4}, WS_SUCCESS, "k0"},
      {false, kRegisterPath, {not_registered}, 1, {1, 2, 3, 4}, WS_SUCCESS, "k0"},
      {false, unreachable, {}, 3, {1, 2, 3, 3, 3, 4}, WS_SUCCESS, "k0"},
      {false, no_identifier, {}, 0, {1, 2, 4}, WS_SUCCESS, "old"},
  };
  for (const auto& [token_first, path, answers, attempts, states, result, key_file] : rows) {
    NewPeer();
    if (!answers.empty()) peer_->SetAnswers(path, answers);
    if (path == unreachable) {
      env_.web_api_origin = "http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort());
    }
    env_.SetVariable("ComSpec",
                     VANTA_FAKE_INTERPRETER + std::string(path == no_identifier ? "-missing" : ""));
    WriteTemp("key.tmp", "old");
    WebServiceAccessor accessor;
    Start(accessor, token_first);
    accessor.Join(nullptr);
    std::vector<std::string> tries;
    for (size_t i = 1; i <= attempts; ++i) tries.push_back(std::to_string(i));
    if (path == kRegisterPath) {
      EXPECT_EQ(peer_->RequestsTo(kRegisterPath).size(), attempts);
    } else if (path[0] == '/') {
      EXPECT_EQ(Sent(path, "try_count"), tries) << path;
    }
    EXPECT_EQ(env_.Sleeps(), WaitsBefore(attempts)) << path;
    // Every wait is announced before it starts.
    EXPECT_EQ(trace_.With(" of 3 after a wait of ").size(), WaitsBefore(attempts).size()) << path;
    EXPECT_EQ(trace_.With(": attempt 3 of 3 after a wait of 3 s").size(), attempts == 3 ? 1u : 0u)
        << path;
    EXPECT_EQ(States(), states) << path;
    EXPECT_EQ(accessor.GetResult(), result) << path;
    EXPECT_EQ(accessor.GetState(), states.back()) << path;
    EXPECT_EQ(ReadTemp("key.tmp"), key_file) << path;
  }
}

// Accessors destroyed at every phase of a run: during each request, each
// retry wait and the UUID query. The run must stop after at most the
// request in flight plus the one that follows the wait in progress.
TEST_F(AccessorTest, DestroyedDuringEachPhaseStopsWithinOneRequestAndOneWait) {
  const auto& ok = testing::kAllOk;
  // Each row: the step (an index into ok, or ok.size() for the UUID query),
  // and 0 to hold its request, or 1 or 2 to fail it and hold that wait.
  std::vector<std::pair<size_t, int>> rows{{ok.size(), 0}};
  for (size_t step = 0; step < ok.size() * 3; ++step) rows.push_back({step / 3, int(step % 3)});
  for (const auto& [step, wait] : rows) {
    const bool query = step == ok.size();
    const std::string name =
        (query ? "UUID query" : ok[step].first) + " wait " + std::to_string(wait);
    NewPeer();
    std::atomic<WebServiceAccessor*> held{nullptr};
    std::atomic<bool> reached{false};
    // Holds the worker until the destructor, having raised the abort flag,
    // waits for it to stop.
    auto hold = [&] {
      reached = true;
      Eventually([&] { return held.load()->IsTermRequest(); });
    };
    std::atomic<int> waits{0};
    env_.on_sleep = [&, held_wait = wait](unsigned) {
      if (++waits == held_wait) hold();
    };
    if (query) {
      WriteTemp("hang", "");
    } else if (wait > 0) {
      peer_->SetAnswer(ok[step].first, testing::Reply("{}", 500));  // retried
    } else {
      const std::string body = ok[step].second.body;
      peer_->SetHandler(ok[step].first, [&, body](const httplib::Request&, httplib::Response& res) {
        hold();
        res.set_content(body, "application/json");
      });
    }
    auto accessor = std::make_unique<WebServiceAccessor>();
    held = accessor.get();
    Start(*accessor, true);
    ASSERT_TRUE(Eventually([&] {
      return query ? ReadTemp("pid").value_or("") != "" : reached.load();
    })) << name;
    const size_t requests = peer_->Requests().size();
    const int waits_before = waits;
    accessor.reset();

    EXPECT_EQ(Results(), std::vector<std::string>{"0xAC40C808 WS_ERROR_ABORTED"}) << name;
    EXPECT_EQ(States().empty() ? -1 : States().back(), 5) << name;
    // A held request ends the run; a held wait is followed by one attempt.
    EXPECT_EQ(peer_->Requests().size() - requests, wait > 0 ? 1u : 0u) << name;
    EXPECT_EQ(waits, waits_before) << name;
    if (query) {
      // Stopped at once, not at the query's time limit.
      EXPECT_EQ(trace_.With("query was stopped").size(), 1u) << name;
      EXPECT_TRUE(testing::ProcessEnded(std::stoi(*ReadTemp("pid")))) << name;
    }
    env_.on_sleep = nullptr;
    std::remove(TempPath("hang").c_str());
  }
}

// The registration on demand, by an accessor that never starts, sends the
// first line of the key file (a 128-byte line read) as it is.
TEST_F(AccessorTest, CreateAndSendDeviceIdSendsTheKeyFileAsItIs) {
  const std::string long_key(130, 'k');
  const std::tuple<std::optional<std::string>, bool, Answer, std::vector<std::string>> rows[] = {
      {std::nullopt, true, kAllOk[3].second, {}},
      {"KEY\nrest", true, kAllOk[3].second, {"KEY\n"}},
      {long_key, true, Reply("", 500), {3, long_key.substr(0, 127)}},
      {"K", false, kAllOk[3].second, {}},
  };
  for (const auto& [key_file, identifier, answer, keys_sent] : rows) {
    NewPeer().SetAnswer(kRegisterPath, answer);
    std::filesystem::remove(TempPath("key.tmp"));
    if (key_file) WriteTemp("key.tmp", *key_file);
    env_.adapter->status = identifier ? Status::kOk : Status::kUnreadable;
    {
      WebServiceAccessor accessor;
      ASSERT_EQ(accessor.Initialize(3, "t", "b", 0, 0, "g", false, "k", 0, 0, 0, 0, 0, 0), 0u);
      env_.ClearSleeps();
      trace_.Clear();
      accessor.CreateAndSendDeviceId();
    }  // destroyed at once, with no run to end
    EXPECT_EQ(Sent(kRegisterPath, "zu_key_value"), keys_sent);
    EXPECT_EQ(Sent(kRegisterPath, "device_id"),
              std::vector<std::string>(keys_sent.size(), ExpectedDeviceId()));
    EXPECT_EQ(Sent(kRegisterPath, "request_type"), std::vector<std::string>(keys_sent.size(), "1"));
    EXPECT_EQ(env_.Sleeps(), WaitsBefore(keys_sent.size()));
    EXPECT_TRUE(trace_.States().empty() && Results().empty());
  }
}

// The one test that waits for the real 2 s and 3 s.
TEST(RetrySlowTest, RealWaitsBetweenAttempts) {
  std::vector<std::chrono::steady_clock::time_point> times;
  StepOutcome outcome = RunStep(
      "step",
      [&](int try_count) {
        times.push_back(std::chrono::steady_clock::now());
        return try_count == 3 ? WS_ERROR_TIMED_OUT : WS_ERROR_CONNECT_FAILED;
      },
      [] { return false; }, nullptr);
  EXPECT_EQ(outcome.code, WS_ERROR_TIMED_OUT);
  ASSERT_EQ(times.size(), 3u);
  EXPECT_GE(times[1] - times[0], std::chrono::milliseconds(2000));
  EXPECT_GE(times[2] - times[1], std::chrono::milliseconds(3000));
}

TEST_F(AccessorTest, DeviceIdBuildsFromTheUuidFileAndTheFirstAdapter) {
  // 100 header characters: the 127-byte line read stops inside them, and
  // the kept bytes are header characters 64 to 99.
  std::string header;
  for (int i = 0; i < 100; ++i) header += static_cast<char>('A' + i % 26);
  const std::string uuid = kUuid;
  const std::string normal = "\xFF\xFE" + testing::Utf16("UUID  \r\n" + uuid);
  // The UUID file, the length and status of the scripted address, the text
  // already in the buffer, its size, the failure (kNone: built) and the text.
  using Row =
      std::tuple<std::optional<std::string>, int, Status, const char*, int, Failure, std::string>;
  const Row rows[] = {
      {normal, 6, Status::kOk, "", 55, Failure::kNone, ExpectedDeviceId()},
      {normal, 8, Status::kOk, "", 64, Failure::kNone, ExpectedDeviceId()},  // cut to 17
      {normal, 0, Status::kOk, "", 55, Failure::kNone, uuid + "-"},
      {normal, 6, Status::kOk, "ab", 12, Failure::kNone, "ab4C4C4544-"},
      {testing::Utf16(header + "\r\n" + uuid), 6, Status::kOk, "", 55, Failure::kNone,
       header.substr(64, 36) + "-" + kAddress},
      {testing::Utf16("UUID\r\n" + uuid.substr(0, 35)), 2, Status::kOk, "", 55,
       Failure::kUuidIncomplete, ""},
      // A query that writes nothing leaves the UUID file empty, not absent.
      {std::nullopt, 6, Status::kOk, "x", 55, Failure::kUuidIncomplete, "x"},
      {normal, 6, Status::kUnreadable, "x", 55, Failure::kAdapterListUnreadable, "x"},
  };
  for (const auto& [uuid_bytes, length, status, prefix, size, expected_failure, text] : rows) {
    std::filesystem::remove(TempPath("uuid-bytes"));
    if (uuid_bytes) WriteTemp("uuid-bytes", *uuid_bytes);
    env_.adapter->status = status;
    env_.adapter->length = length;
    env_.adapter->bytes[6] = 0x6F;
    env_.adapter->bytes[7] = 0x7F;
    char buffer[64] = {};
    std::strcpy(buffer, prefix);
    Failure failure = Failure::kQueryAborted;
    EXPECT_EQ(CreateDeviceIdText(buffer, size, nullptr, &failure),
              expected_failure == Failure::kNone)
        << text;
    EXPECT_EQ(failure, expected_failure) << text;
    EXPECT_EQ(std::string(buffer), text);
  }
  EXPECT_EQ(ReadTemp("arguments"), "/C|wmic|csproduct|get|uuid|>|" + TempPath("id.tmp") + "|");
  env_.SetVariable("ComSpec", TempPath("no-such-interpreter"));
  std::string id = "untouched", reason;
  EXPECT_FALSE(WebServiceAccessor::BuildDeviceId(&id, &reason));
  EXPECT_EQ(id, "untouched");
  EXPECT_NE(reason.find("could not run"), std::string::npos) << reason;
}

// Without ComSpec the library writes the UUID file itself from the
// machine's identity; with the machine's own adapters the identifier has
// the usual form.
TEST_F(AccessorTest, DeviceIdMachineIdentityAndRealAdapter) {
  env_.adapter.reset();
  env_.SetVariable("ComSpec", std::nullopt);
  if (Env::Get()->FirstAdapterAddress().status != Status::kOk) {
    GTEST_SKIP() << "this machine lists no network adapter with a hardware address";
  }
  std::string uuid;
  if (!Env::Get()->HardwareUuid(&uuid)) {
    GTEST_SKIP() << "this machine has no readable hardware UUID";
  }
  std::string id;
  ASSERT_TRUE(WebServiceAccessor::BuildDeviceId(&id, nullptr));
  EXPECT_TRUE(std::regex_match(id, std::regex(uuid + "(-[0-9A-F]{2}){6}"))) << id;
  // The UUID file as the query would have written it.
  EXPECT_EQ(ReadTemp("id.tmp"),
            "\xFF\xFE" + testing::Utf16("UUID  \r\n" + id.substr(0, 36) + "  \r\n"));
}

}  // namespace
}  // namespace vanta
