#include <gtest/gtest.h>
#include <picojson.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/accessor/RunnerFixture.h"
#include "tests/messages/AnswerOf.h"
#include "tests/support/LocalPeer.h"
#include "tests/support/TestWebApiHost.h"
#include "vanta/WebServiceAccessor.h"

namespace vanta {
namespace {

using testing::Answer;
using testing::AnswerOf;
using State = WebServiceAccessor::State;

const std::string kToken = "/dispatcher/request_token";
const std::string kAccess = "/dispatcher/request_accesstoken";
const std::string kGame = "/dispatcher/request_gameservice";
const std::string kRegister = "/game/razever/app/APIEX/SorvaneClient/SendDeviceId";
const Answer kTokenOk = AnswerOf(R"({"status":"ok","token":"T1","zuc_key_value":"K1"})");
const Answer kAccessOk = AnswerOf(R"({"status":"ok","access_token":"A1"})");
const Answer kGameOk = AnswerOf(
    R"({"status":"ok","gameid":"g","ipv4":"10.1.2.3","ipv6":"fe80::1","control_port":11,)"
    R"("video_port":12,"audio_port":13,"input_port":14,"key1":"k-1","key2":"k-2","config":)"
    R"({"version":1,"audio":[{"level":0,"bitrate":96}],"video":[]}})");
const Answer kRegisterOk = AnswerOf(R"({"status":0,"message":""})");

class NegotiationTest : public testing::RunnerTest {
 protected:
  // A peer that answers every request with success and has seen nothing.
  testing::LocalPeer& NewPeer() {
    peer_.reset();
    peer_ = std::make_unique<testing::LocalPeer>();
    for (const auto& [path, answer] : {std::pair{kToken, kTokenOk},
                                       {kAccess, kAccessOk},
                                       {kGame, kGameOk},
                                       {kRegister, kRegisterOk}}) {
      peer_->SetAnswer(path, answer);
    }
    testing::SetWebApiOriginForTesting(peer_->Url(""));
    return *peer_;
  }

  void Start(WebServiceAccessor& accessor, bool token_first) {
    ASSERT_EQ(accessor.Initialize(3, "t0", peer_->Url("/dispatcher/").c_str(), 5, 6, "game",
                                  token_first, "k0", 1, 0, 1, 0, 1, 601),
              WS_SUCCESS);
    ClearRecords();
    ASSERT_EQ(accessor.Start(), WS_SUCCESS);
  }

  // The JSON body of the index-th request to path (empty when none).
  picojson::value Body(const std::string& path, size_t index = 0) const {
    picojson::value value;
    std::vector<testing::RecordedRequest> requests = peer_->RequestsTo(path);
    if (index < requests.size()) picojson::parse(value, requests[index].body);
    return value;
  }

  std::unique_ptr<testing::LocalPeer> peer_;
};

TEST_F(NegotiationTest, CompleteRunWithAndWithoutAFreshToken) {
  for (bool token_first : {true, false}) {
    NewPeer();
    WebServiceAccessor accessor;
    // The owner's view of the state while each request is being answered.
    std::mutex mu;
    std::vector<std::string> seen;
    for (const auto& [path, answer] : {std::pair{kToken, kTokenOk},
                                       {kAccess, kAccessOk},
                                       {kGame, kGameOk},
                                       {kRegister, kRegisterOk}}) {
      peer_->SetHandler(path, [&, path = path, body = answer.body](const httplib::Request&,
                                                                   httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mu);
        seen.push_back(path.substr(path.rfind('/') + 1) + std::to_string(accessor.GetState()));
        res.set_content(body, "application/json");
      });
    }
    const std::string key = token_first ? "K1" : "k0";
    Start(accessor, token_first);
    ErrorCode result = 1;
    accessor.Join(&result);
    EXPECT_EQ(result, WS_SUCCESS);
    EXPECT_EQ(States(), (std::vector<int>{1, 2, 3, 4}));
    const std::vector<std::string> expected_seen{"request_token1", "request_accesstoken1",
                                                 "request_gameservice2", "SendDeviceId3"};
    EXPECT_EQ(seen, std::vector<std::string>(expected_seen.begin() + (token_first ? 0 : 1),
                                             expected_seen.end()));
    EXPECT_EQ(Body(kAccess).get("token").to_str(), token_first ? "T1" : "t0");
    EXPECT_EQ(Body(kAccess).get("zuc_key_value").to_str(), key);
    EXPECT_EQ(Body(kGame).get("access_token").to_str(), "A1");
    const picojson::value registration = Body(kRegister);
    EXPECT_EQ(registration.get("device_id").to_str(), ExpectedDeviceId());
    EXPECT_EQ(registration.get("zu_key_value").to_str(), key);
    EXPECT_EQ(registration.get("request_type").to_str(), "0");
    EXPECT_EQ(registration.get("client_version").to_str(), "1.1.0");
    EXPECT_EQ(ReadTempFile("key.tmp"), key);
    EXPECT_EQ(accessor.GetAccessToken() + accessor.GetZucKeyValue() + accessor.GetIpv4() +
                  accessor.GetIpv6() + accessor.GetKey1() + accessor.GetKey2(),
              "A1" + key + "10.1.2.3fe80::1k-1k-2");
    EXPECT_EQ(accessor.GetControlPort() + accessor.GetVideoPort() * 100 +
                  accessor.GetAudioPort() * 10000 + accessor.GetInputPort() * 1000000,
              14131211);
    EXPECT_EQ(accessor.GetQualityParams().audio_bitrate[0], 96);

    // A copy is not bound to a thread; Initialize clears the outputs but
    // keeps the per-level quality entries.
    WebServiceAccessor copy(accessor);
    EXPECT_EQ(copy.Start(), WS_ERROR_THREAD_START);
    EXPECT_EQ(copy.GetIpv4() + copy.GetAccessToken(), "10.1.2.3A1");
    ASSERT_EQ(accessor.Initialize(9, "t", "b", 0, 0, "g", false, "k", 0, 0, 0, 0, 0, 0), 0u);
    EXPECT_EQ(accessor.GetState(), State::IDLE);
    EXPECT_EQ(accessor.GetAccessToken() + accessor.GetIpv4() + accessor.GetKey2(), "");
    EXPECT_EQ(accessor.GetControlPort() + accessor.GetInputPort(), 0);
    EXPECT_EQ(accessor.GetQualityParams().version + accessor.GetQualityParams().audio_level_count,
              0);
    EXPECT_EQ(accessor.GetQualityParams().audio_bitrate[0], 96);
  }
}

// Each dispatcher step runs under the retry rule; a step that gives up
// ends the run with FAILED and its last code.
TEST_F(NegotiationTest, StepsRetryAndGiveUp) {
  const Answer unlisted = AnswerOf(R"({"status":"ng","result":0,"message":""})");
  struct Row {
    bool token_first;
    std::string path;
    std::vector<Answer> answers;
    std::vector<int> try_counts;
    std::vector<int> states;
    ErrorCode result;
  } rows[] = {
      {false, kAccess, {AnswerOf("", 500)}, {1, 2, 3}, {1, 5}, WS_ERROR_SERVER_ERROR},
      {false,
       kGame,
       {AnswerOf(R"({"status":"ng","result":2,"message":"no"})")},
       {1},
       {1, 2, 5},
       WS_ERROR_SERVER_RESULT_2_5_6_7},
      {true, kToken, {unlisted}, {1, 2, 3}, {1, 5}, WS_ERROR_SERVER_ERROR},
      {false, kAccess, {AnswerOf("<html>")}, {1}, {1, 5}, WS_ERROR_BAD_RESPONSE},
      {false, kGame, {AnswerOf("", 503), kGameOk}, {1, 2}, {1, 2, 2, 3, 4}, WS_SUCCESS},
  };
  for (const Row& row : rows) {
    NewPeer().SetAnswers(row.path, row.answers);
    WebServiceAccessor accessor;
    Start(accessor, row.token_first);
    accessor.Join(nullptr);
    std::vector<int> try_counts;
    for (size_t i = 0; i < peer_->RequestsTo(row.path).size(); ++i) {
      try_counts.push_back(static_cast<int>(Body(row.path, i).get("try_count").get<double>()));
    }
    EXPECT_EQ(try_counts, row.try_counts) << row.path;
    EXPECT_EQ(Waits(), WaitsBefore(row.try_counts.size())) << row.path;
    EXPECT_EQ(States(), row.states) << row.path;
    EXPECT_EQ(accessor.GetResult(), row.result) << row.path;
    EXPECT_EQ(accessor.GetState(), row.states.back()) << row.path;
  }
}

// The registration and the identifier gate nothing: the run completes.
TEST_F(NegotiationTest, RegistrationOutcomeGatesNothing) {
  struct Row {
    std::string origin;  // of the web API ("": the peer)
    bool identifier;
    std::vector<int> states;
    std::string key_file;
  } rows[] = {
      {"http://127.0.0.1:1", true, {1, 2, 3, 3, 3, 4}, "k0"},  // unreachable
      {"", true, {1, 2, 3, 4}, "k0"},                          // refused
      {"", false, {1, 2, 4}, "old"},
  };
  for (const Row& row : rows) {
    NewPeer().SetAnswer(kRegister, AnswerOf(R"({"status":2,"message":"no"})"));
    if (!row.origin.empty()) testing::SetWebApiOriginForTesting(row.origin);
    if (!row.identifier) SetUuidFileBytes(std::nullopt);
    WriteTempFile("key.tmp", "old");
    WebServiceAccessor accessor;
    Start(accessor, false);
    ErrorCode result = 1;
    accessor.Join(&result);
    EXPECT_EQ(result, WS_SUCCESS) << row.key_file;
    EXPECT_EQ(States(), row.states);
    EXPECT_EQ(Waits(), WaitsBefore(row.origin.empty() ? 1 : 3));
    EXPECT_EQ(ReadTempFile("key.tmp"), row.key_file);
    EXPECT_EQ(peer_->RequestsTo(kRegister).size(), row.origin.empty() && row.identifier ? 1u : 0u);
  }
}

// Destroying the accessor while the peer holds a request stops the run
// after that request; an accessor that never started ends at once.
TEST_F(NegotiationTest, DestroyingTheAccessorAbortsAfterTheCurrentRequest) {
  struct Row {
    std::string held;
    Answer answer;
    size_t requests;  // that have arrived when it is held
    std::vector<int> states;
  } rows[] = {{kAccess, kAccessOk, 1, {1, 5}}, {kRegister, kRegisterOk, 3, {1, 2, 3, 5}}};
  for (Row& row : rows) {
    row.answer.delay_ms = 500;
    NewPeer().SetAnswer(row.held, row.answer);
    {
      WebServiceAccessor accessor;
      Start(accessor, false);
      ASSERT_TRUE(peer_->WaitForRequests(row.requests, std::chrono::seconds(10)));
    }
    EXPECT_EQ(States(), row.states);
    EXPECT_EQ(Results(), std::vector<ErrorCode>{WS_ERROR_ABORTED});
    EXPECT_FALSE(ReadTempFile("key.tmp").has_value());
    EXPECT_EQ(peer_->Requests().size(), row.requests);
  }
  {
    WebServiceAccessor never_started;
    ASSERT_EQ(never_started.Initialize(3, "t", "b", 0, 0, "g", false, "k", 0, 0, 0, 0, 0, 0), 0u);
    ClearRecords();
  }
  EXPECT_TRUE(Results().empty());
}

TEST_F(NegotiationTest, CreateAndSendDeviceIdSendsTheKeyFileAsItIs) {
  const std::string long_key(130, 'k');
  struct Row {
    std::optional<std::string> key_file;
    bool identifier;
    Answer answer;
    std::vector<std::string> keys_sent;
  } rows[] = {
      {std::nullopt, true, kRegisterOk, {}},
      {"KEY\nrest", true, kRegisterOk, {"KEY\n"}},
      {long_key, true, AnswerOf("", 500), {3, long_key.substr(0, 127)}},  // one line of 127
      {"K", false, kRegisterOk, {}},
  };
  for (const Row& row : rows) {
    NewPeer().SetAnswer(kRegister, row.answer);
    std::filesystem::remove(dir_ + "/key.tmp");
    if (row.key_file) WriteTempFile("key.tmp", *row.key_file);
    if (!row.identifier) SetUuidFileBytes(std::nullopt);
    ClearRecords();
    WebServiceAccessor accessor;
    accessor.CreateAndSendDeviceId();
    std::vector<std::string> keys;
    for (size_t i = 0; i < peer_->RequestsTo(kRegister).size(); ++i) {
      keys.push_back(Body(kRegister, i).get("zu_key_value").to_str());
      EXPECT_EQ(Body(kRegister, i).get("device_id").to_str(), ExpectedDeviceId());
      EXPECT_EQ(Body(kRegister, i).get("request_type").to_str(), "1");
    }
    EXPECT_EQ(keys, row.keys_sent);
    EXPECT_EQ(Waits(), WaitsBefore(keys.size()));
    EXPECT_TRUE(States().empty());
  }
}

}  // namespace
}  // namespace vanta
