// The negotiation runner: the device identifier, the retry rule, and whole
// negotiations of an accessor against a local peer that stands in for the
// dispatcher and the web API.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "accessor/DeviceId.h"
#include "accessor/Retry.h"
#include "tests/accessor/RunnerFixture.h"

namespace vanta {
namespace {

using testing::Answer;
using testing::Reply;
using Status = AdapterAddress::Status;
using Failure = DeviceIdFailure;

using testing::kAccessPath;
using testing::kAllOk;
using testing::kGamePath;
using testing::kRegisterOk;
using testing::kRegisterPath;
using testing::kTokenPath;

using AccessorTest = testing::RunnerTest;

// One accessor runs twice: Initialize clears what the first run negotiated.
TEST_F(AccessorTest, CompleteRunsWithAndWithoutAFreshToken) {
  WebServiceAccessor accessor;
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
    Start(accessor, token_first);
    if (!token_first) {
      // Read before the worker can have written anything: the first run's
      // values are gone.
      EXPECT_EQ(accessor.GetIpv4() + accessor.GetKey1() + accessor.GetAccessToken(), "");
    }
    ErrorCode result = 1;
    accessor.Join(&result);
    EXPECT_EQ(result, WS_SUCCESS);
    EXPECT_EQ(trace_.States(), (std::vector<int>{1, 2, 3, 4}));
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

// Each step runs under the retry rule; a dispatcher step that gives up ends
// the run with FAILED and its last code. The registration and the identifier
// gate nothing; the key file is written after the registration, if any.
TEST_F(AccessorTest, StepsRetryAndGiveUp) {
  const Answer unlisted = Reply(R"({"status":"ng","result":0,"message":""})");
  const Answer refused = Reply(R"({"status":"ng","result":2,"message":"no"})");
  const Answer not_registered = Reply(R"({"status":2,"message":"no"})");
  const std::string unreachable = "web API unreachable", no_identifier = "no identifier";
  struct Row {
    bool token_first;
    std::string path;  // whose answers are scripted, or one of the two cases above
    std::vector<Answer> answers;
    size_t attempts;
    std::vector<int> states;
    ErrorCode result;
    std::string key_file;
  } rows[] = {
      {false, kAccessPath, {Reply("", 500)}, 3, {1, 5}, WS_ERROR_SERVER_ERROR, "old"},
      {false, kGamePath, {refused}, 1, {1, 2, 5}, WS_ERROR_SERVER_RESULT_2_5_6_7, "old"},
      {true, kTokenPath, {unlisted}, 3, {1, 5}, WS_ERROR_SERVER_ERROR, "old"},
      {false, kAccessPath, {Reply("<html>")}, 1, {1, 5}, WS_ERROR_BAD_RESPONSE, "old"},
      {false, kGamePath, {Reply("", 503), kAllOk[2].second}, 2, {1, 2, 2, 3, 4}, WS_SUCCESS, "k0"},
      {false, kRegisterPath, {not_registered}, 1, {1, 2, 3, 4}, WS_SUCCESS, "k0"},
      {false, unreachable, {}, 3, {1, 2, 3, 3, 3, 4}, WS_SUCCESS, "k0"},
      {false, no_identifier, {}, 0, {1, 2, 4}, WS_SUCCESS, "old"},
  };
  for (const Row& row : rows) {
    NewPeer();
    if (!row.answers.empty()) peer_->SetAnswers(row.path, row.answers);
    if (row.path == unreachable) {
      env_.web_api_origin = "http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort());
    }
    env_.SetVariable("ComSpec", VANTA_FAKE_INTERPRETER +
                                    std::string(row.path == no_identifier ? "-missing" : ""));
    WriteTemp("key.tmp", "old");
    WebServiceAccessor accessor;
    Start(accessor, row.token_first);
    accessor.Join(nullptr);
    std::vector<std::string> tries;
    for (size_t i = 1; i <= row.attempts; ++i) tries.push_back(std::to_string(i));
    if (row.path == kRegisterPath) {
      EXPECT_EQ(peer_->RequestsTo(kRegisterPath).size(), row.attempts);
    } else if (row.path[0] == '/') {
      EXPECT_EQ(Sent(row.path, "try_count"), tries) << row.path;
    }
    EXPECT_EQ(env_.Sleeps(), WaitsBefore(row.attempts)) << row.path;
    // Every wait is announced before it starts.
    EXPECT_EQ(trace_.With(" of 3 in ").size(), WaitsBefore(row.attempts).size()) << row.path;
    if (row.attempts == 3) {
      EXPECT_EQ(trace_.With(": attempt 3 of 3 in 3 s").size(), 1u) << row.path;
    }
    EXPECT_EQ(trace_.States(), row.states) << row.path;
    EXPECT_EQ(accessor.GetResult(), row.result) << row.path;
    EXPECT_EQ(accessor.GetState(), row.states.back()) << row.path;
    EXPECT_EQ(ReadTemp("key.tmp"), row.key_file) << row.path;
  }
}

// The registration on demand, by an accessor that never starts: destroying
// it returns at once, with no run to end.
TEST_F(AccessorTest, CreateAndSendDeviceIdSendsTheKeyFileAsItIs) {
  const std::string long_key(130, 'k');
  struct Row {
    std::optional<std::string> key_file;
    bool identifier;
    Answer answer;
    std::vector<std::string> keys_sent;
  } rows[] = {
      {std::nullopt, true, kRegisterOk, {}},
      {"KEY\nrest", true, kRegisterOk, {"KEY\n"}},
      {long_key, true, Reply("", 500), {3, long_key.substr(0, 127)}},  // one line of 127
      {"K", false, kRegisterOk, {}},
  };
  for (const Row& row : rows) {
    NewPeer().SetAnswer(kRegisterPath, row.answer);
    std::filesystem::remove(TempPath("key.tmp"));
    if (row.key_file) WriteTemp("key.tmp", *row.key_file);
    env_.adapter->status = row.identifier ? Status::kOk : Status::kUnreadable;
    {
      WebServiceAccessor accessor;
      ASSERT_EQ(accessor.Initialize(3, "t", "b", 0, 0, "g", false, "k", 0, 0, 0, 0, 0, 0), 0u);
      env_.ClearSleeps();
      trace_.Clear();
      accessor.CreateAndSendDeviceId();
    }
    const std::vector<std::string> keys = Sent(kRegisterPath, "zu_key_value");
    EXPECT_EQ(keys, row.keys_sent);
    EXPECT_EQ(Sent(kRegisterPath, "device_id"),
              std::vector<std::string>(keys.size(), ExpectedDeviceId()));
    EXPECT_EQ(Sent(kRegisterPath, "request_type"), std::vector<std::string>(keys.size(), "1"));
    EXPECT_EQ(env_.Sleeps(), WaitsBefore(keys.size()));
    EXPECT_TRUE(trace_.States().empty());
    EXPECT_TRUE(Results().empty());
  }
}

// Returns codes in turn (the last one repeats) and records the try counts.
struct Attempts {
  std::vector<ErrorCode> codes;
  std::vector<int> try_counts;
  ErrorCode operator()(int try_count) {
    try_counts.push_back(try_count);
    return codes[std::min(try_counts.size(), codes.size()) - 1];
  }
};

TEST_F(AccessorTest, RetryRuleAtMostThreeAttemptsWithGrowingWaits) {
  struct Row {
    std::vector<ErrorCode> codes;
    int abort_after;  // attempt after which the flag is up (0: never)
    int attempts;
    ErrorCode code;
  } rows[] = {
      {{WS_ERROR_CONNECT_FAILED}, 0, 3, WS_ERROR_CONNECT_FAILED},
      {{WS_ERROR_SERVER_ERROR, WS_ERROR_TIMED_OUT}, 0, 3, WS_ERROR_TIMED_OUT},
      {{0x00000001u}, 0, 1, 0x00000001u},  // bit 31 clear: a success
      {{WS_ERROR_SERVER_RESULT_10}, 0, 1, WS_ERROR_SERVER_RESULT_10},
      {{WS_ERROR_CONNECT_FAILED}, 2, 2, WS_ERROR_CONNECT_FAILED},
  };
  for (const Row& row : rows) {
    env_.ClearSleeps();
    Attempts attempts{row.codes, {}};
    StepOutcome outcome = RunStep("step", std::ref(attempts), [&] {
      return row.abort_after != 0 &&
             static_cast<int>(attempts.try_counts.size()) >= row.abort_after;
    });
    const std::vector<int> all_tries{1, 2, 3};
    EXPECT_EQ(attempts.try_counts,
              std::vector<int>(all_tries.begin(), all_tries.begin() + row.attempts));
    EXPECT_EQ(env_.Sleeps(), WaitsBefore(row.attempts));
    EXPECT_EQ(outcome.code, row.code);
    EXPECT_EQ(outcome.aborted, row.abort_after != 0);
  }
}

// The one test that waits for the real 2 s and 3 s.
TEST(RetrySlowTest, RealWaitsBetweenAttempts) {
  Attempts attempts{{WS_ERROR_CONNECT_FAILED}, {}};
  std::vector<std::chrono::steady_clock::time_point> times;
  StepOutcome outcome = RunStep(
      "step",
      [&](int try_count) {
        times.push_back(std::chrono::steady_clock::now());
        return attempts(try_count);
      },
      [] { return false; });
  EXPECT_EQ(attempts.try_counts, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(outcome.code, WS_ERROR_CONNECT_FAILED);
  ASSERT_EQ(times.size(), 3u);
  EXPECT_GE(times[1] - times[0], std::chrono::milliseconds(2000));
  EXPECT_GE(times[2] - times[1], std::chrono::milliseconds(3000));
}

TEST_F(AccessorTest, DeviceIdBuildsFromTheUuidFileAndTheFirstAdapter) {
  // 100 header characters: the 127-byte line read stops inside them, and
  // the kept bytes are header characters 64 to 99.
  std::string header;
  for (int i = 0; i < 100; ++i) header += static_cast<char>('A' + i % 26);
  const std::string normal = "\xFF\xFE" + testing::Utf16("UUID  \r\n" + std::string(kUuid));
  const std::string uuid = kUuid;
  struct Row {
    std::optional<std::string> uuid_bytes;
    int length;  // of the scripted address
    Status status;
    const char* prefix;
    int size;
    Failure failure;  // kNone: built
    std::string expected;
  } rows[] = {
      {normal, 6, Status::kOk, "", 55, Failure::kNone, ExpectedDeviceId()},
      {normal, 8, Status::kOk, "", 64, Failure::kNone, ExpectedDeviceId()},  // cut to 17
      {normal, 0, Status::kOk, "", 55, Failure::kNone, uuid + "-"},
      {normal, 6, Status::kOk, "ab", 12, Failure::kNone, "ab4C4C4544-"},
      {testing::Utf16(header + "\r\n" + uuid), 6, Status::kOk, "", 55, Failure::kNone,
       header.substr(64, 36) + "-" + kAddress},
      {testing::Utf16("UUID\r\n4C4C"), 2, Status::kOk, "", 55, Failure::kNone, "4C4C-00-1A"},
      // A query that writes nothing leaves the UUID file empty, not absent.
      {std::nullopt, 6, Status::kOk, "x", 55, Failure::kNone, std::string("x-") + kAddress},
      {normal, 6, Status::kUnreadable, "x", 55, Failure::kAdapterListUnreadable, "x"},
  };
  for (const Row& row : rows) {
    SetUuidBytes(row.uuid_bytes);
    env_.adapter->status = row.status;
    env_.adapter->length = row.length;
    env_.adapter->bytes[6] = 0x6F;
    env_.adapter->bytes[7] = 0x7F;
    char buffer[64] = {};
    std::strcpy(buffer, row.prefix);
    Failure failure = Failure::kQueryAborted;
    EXPECT_EQ(CreateDeviceIdText(
                  buffer, row.size, [] { return false; }, &failure),
              row.failure == Failure::kNone)
        << row.expected;
    EXPECT_EQ(failure, row.failure) << row.expected;
    EXPECT_EQ(std::string(buffer), row.expected);
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
#if defined(_WIN32)
  // Windows always asks the interpreter (here the fake one) for the UUID;
  // the adapter list is the system's.
  if (Env::Get()->FirstAdapterAddress().status != Status::kOk) {
    GTEST_SKIP() << "this machine lists no network adapter";
  }
  std::string windows_id;
  ASSERT_TRUE(WebServiceAccessor::BuildDeviceId(&windows_id, nullptr));
  EXPECT_TRUE(std::regex_match(windows_id, std::regex(std::string(kUuid) + "(-[0-9A-F]{2}){6}")))
      << windows_id;
#else
  env_.SetVariable("ComSpec", std::nullopt);
  std::ifstream firmware("/sys/class/dmi/id/product_uuid"), machine("/etc/machine-id");
  std::string line;
  if (!std::getline(firmware, line) && !std::getline(machine, line)) {
    GTEST_SKIP() << "this machine has neither a readable firmware UUID nor a machine id";
  }
  std::string id;
  ASSERT_TRUE(WebServiceAccessor::BuildDeviceId(&id, nullptr));
  EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}"
                                              "(-[0-9A-F]{2}){6}")))
      << id;
  // The UUID file as the query would have written it, owner-only.
  EXPECT_EQ(ReadTemp("id.tmp"),
            "\xFF\xFE" + testing::Utf16("UUID  \r\n" + id.substr(0, 36) + "  \r\n"));
#endif
}

}  // namespace
}  // namespace vanta
