#include <gtest/gtest.h>
#include <picojson.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "tests/accessor/RunnerFixture.h"
#include "tests/support/LocalPeer.h"
#include "tests/support/TestWebApiHost.h"
#include "vanta/WebServiceAccessor.h"

namespace vanta {
namespace {

using testing::Answer;

const std::string kToken = "/dispatcher/request_token";
const std::string kAccess = "/dispatcher/request_accesstoken";
const std::string kGame = "/dispatcher/request_gameservice";
const std::string kRegister = "/game/razever/app/APIEX/SorvaneClient/SendDeviceId";

Answer Json(const std::string& body, int status = 200, int delay_ms = 0) {
  Answer answer;
  answer.status = status;
  answer.body = body;
  answer.delay_ms = delay_ms;
  return answer;
}

const Answer kTokenOk = Json(R"({"status":"ok","token":"T1","zuc_key_value":"K1"})");
const Answer kAccessOk = Json(R"({"status":"ok","access_token":"A1"})");
const Answer kGameOk =
    Json(R"({"status":"ok","gameid":"g","ipv4":"10.1.2.3","ipv6":"fe80::1","control_port":11,)"
         R"("video_port":12,"audio_port":13,"input_port":14,"key1":"k-1","key2":"k-2","config":)"
         R"({"version":1,"audio":[{"level":0,"bitrate":96}],"video":[]}})");
const Answer kRegisterOk = Json(R"({"status":0,"message":""})");
const Answer kRefusal2 = Json(R"({"status":"ng","result":2,"message":"no"})");
const Answer kRegisterRefused = Json(R"({"status":2,"message":"no"})");

class NegotiationTest : public testing::RunnerTest {
 protected:
  void SetUp() override {
    RunnerTest::SetUp();
    NewPeer();
  }

  // A peer that answers every request with success and has seen nothing.
  testing::LocalPeer& NewPeer() {
    peer_.reset();
    peer_ = std::make_unique<testing::LocalPeer>();
    peer_->SetAnswer(kToken, kTokenOk);
    peer_->SetAnswer(kAccess, kAccessOk);
    peer_->SetAnswer(kGame, kGameOk);
    peer_->SetAnswer(kRegister, kRegisterOk);
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

  std::vector<std::string> Paths() const {
    std::vector<std::string> paths;
    for (const auto& request : peer_->Requests()) paths.push_back(request.path);
    return paths;
  }

  picojson::object Body(const std::string& path, size_t index = 0) const {
    picojson::value value;
    std::vector<testing::RecordedRequest> requests = peer_->RequestsTo(path);
    if (index < requests.size()) picojson::parse(value, requests[index].body);
    return value.is<picojson::object>() ? value.get<picojson::object>() : picojson::object();
  }

  std::unique_ptr<testing::LocalPeer> peer_;
};

TEST_F(NegotiationTest, CompleteRunWithAndWithoutAFreshToken) {
  for (bool token_first : {true, false}) {
    NewPeer();
    // The owner's view of the state while each request is being answered.
    std::mutex mu;
    std::vector<int> seen;
    WebServiceAccessor accessor;
    for (const auto& [path, answer] : {std::pair{kToken, kTokenOk},
                                       {kAccess, kAccessOk},
                                       {kGame, kGameOk},
                                       {kRegister, kRegisterOk}}) {
      peer_->SetHandler(path,
                        [&, body = answer.body](const httplib::Request&, httplib::Response& res) {
                          std::lock_guard<std::mutex> lock(mu);
                          seen.push_back(accessor.GetState());
                          res.set_content(body, "application/json");
                        });
    }
    const std::string key = token_first ? "K1" : "k0";
    Start(accessor, token_first);
    ErrorCode result = 1;
    accessor.Join(&result);
    EXPECT_EQ(result, WS_SUCCESS);
    EXPECT_EQ(accessor.GetState(), WebServiceAccessor::State::COMPLETE);
    EXPECT_EQ(States(), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(seen, (token_first ? std::vector<int>{1, 1, 2, 3} : std::vector<int>{1, 2, 3}));
    EXPECT_EQ(Paths(), (token_first ? std::vector<std::string>{kToken, kAccess, kGame, kRegister}
                                    : std::vector<std::string>{kAccess, kGame, kRegister}));
    EXPECT_EQ(Body(kAccess)["token"].to_str(), token_first ? "T1" : "t0");
    EXPECT_EQ(Body(kAccess)["zuc_key_value"].to_str(), key);
    EXPECT_EQ(Body(kGame)["access_token"].to_str(), "A1");
    picojson::object registration = Body(kRegister);
    EXPECT_EQ(registration["device_id"].to_str(), ExpectedDeviceId());
    EXPECT_EQ(registration["zu_key_value"].to_str(), key);
    EXPECT_EQ(registration["request_type"].to_str(), "0");
    EXPECT_EQ(registration["client_version"].to_str(), "1.1.0");
    EXPECT_EQ(ReadTempFile("key.tmp"), key);
    EXPECT_EQ(accessor.GetAccessToken(), "A1");
    EXPECT_EQ(accessor.GetZucKeyValue(), key);
    EXPECT_EQ(accessor.GetIpv4() + accessor.GetIpv6() + accessor.GetKey1() + accessor.GetKey2(),
              "10.1.2.3fe80::1k-1k-2");
    EXPECT_EQ(accessor.GetControlPort() + accessor.GetVideoPort() * 100 +
                  accessor.GetAudioPort() * 10000 + accessor.GetInputPort() * 1000000,
              14131211);
    EXPECT_EQ(accessor.GetQualityParams().audio_bitrate[0], 96);
    EXPECT_EQ(accessor.GetQualityParams().version, 1);
  }
}

// Each dispatcher step runs under the retry rule; a step that gives up
// ends the run with FAILED and its last code.
TEST_F(NegotiationTest, StepsRetryAndGiveUp) {
  struct Row {
    const char* name;
    bool token_first;
    std::string path;
    std::vector<Answer> answers;
    std::vector<int> try_counts;
    std::vector<unsigned> waits;
    std::vector<int> states;
    ErrorCode result;
  };
  const Row rows[] = {
      {"error status",
       false,
       kAccess,
       {Json("", 500)},
       {1, 2, 3},
       {2000, 3000},
       {1, 5},
       WS_ERROR_SERVER_ERROR},
      {"refusal", false, kGame, {kRefusal2}, {1}, {}, {1, 2, 5}, WS_ERROR_SERVER_RESULT_2_5_6_7},
      {"unlisted status",
       true,
       kToken,
       {Json(R"({"status":"ng","result":0,"message":""})")},
       {1, 2, 3},
       {2000, 3000},
       {1, 5},
       WS_ERROR_SERVER_ERROR},
      {"not JSON", false, kAccess, {Json("<html>")}, {1}, {}, {1, 5}, WS_ERROR_BAD_RESPONSE},
      {"second attempt",
       false,
       kGame,
       {Json("", 503), kGameOk},
       {1, 2},
       {2000},
       {1, 2, 2, 3, 4},
       WS_SUCCESS},
  };
  for (const Row& row : rows) {
    NewPeer().SetAnswers(row.path, row.answers);
    WebServiceAccessor accessor;
    Start(accessor, row.token_first);
    accessor.Join(nullptr);
    std::vector<int> try_counts;
    for (size_t i = 0; i < peer_->RequestsTo(row.path).size(); ++i) {
      try_counts.push_back(static_cast<int>(Body(row.path, i)["try_count"].get<double>()));
    }
    EXPECT_EQ(try_counts, row.try_counts) << row.name;
    EXPECT_EQ(Waits(), row.waits) << row.name;
    EXPECT_EQ(States(), row.states) << row.name;
    EXPECT_EQ(accessor.GetResult(), row.result) << row.name;
    EXPECT_EQ(accessor.GetState(), row.states.back()) << row.name;
  }
}

TEST_F(NegotiationTest, DispatcherUnreachableGivesUpAfterThreeAttempts) {
  WebServiceAccessor accessor;
  ASSERT_EQ(accessor.Initialize(3, "t0", "http://127.0.0.1:1/dispatcher/", 5, 6, "game", false,
                                "k0", 1, 0, 1, 0, 1, 601),
            WS_SUCCESS);
  ASSERT_EQ(accessor.Start(), WS_SUCCESS);
  ErrorCode result;
  accessor.Join(&result);
  EXPECT_EQ(result, WS_ERROR_CONNECT_FAILED);
  EXPECT_EQ(Waits(), (std::vector<unsigned>{2000, 3000}));
  EXPECT_EQ(accessor.GetState(), WebServiceAccessor::State::FAILED);
}

// The registration and the identifier gate nothing: the run completes.
TEST_F(NegotiationTest, RegistrationOutcomeGatesNothing) {
  struct Row {
    const char* name;
    std::string origin;
    bool identifier;
    std::vector<int> states;
    std::vector<unsigned> waits;
    std::string key_file;
  };
  const Row rows[] = {
      {"web API unreachable", "http://127.0.0.1:1", true, {1, 2, 3, 3, 3, 4}, {2000, 3000}, "k0"},
      {"registration refused", "", true, {1, 2, 3, 4}, {}, "k0"},
      {"no identifier", "", false, {1, 2, 4}, {}, "old"},
  };
  for (const Row& row : rows) {
    NewPeer().SetAnswer(kRegister, kRegisterRefused);
    if (!row.origin.empty()) testing::SetWebApiOriginForTesting(row.origin);
    if (!row.identifier) SetUuidFileBytes(std::nullopt);
    WriteTempFile("key.tmp", "old");
    WebServiceAccessor accessor;
    Start(accessor, false);
    ErrorCode result = 1;
    accessor.Join(&result);
    EXPECT_EQ(result, WS_SUCCESS) << row.name;
    EXPECT_EQ(States(), row.states) << row.name;
    EXPECT_EQ(Waits(), row.waits) << row.name;
    EXPECT_EQ(ReadTempFile("key.tmp"), row.key_file) << row.name;
    EXPECT_EQ(peer_->RequestsTo(kRegister).size(), row.origin.empty() && row.identifier ? 1u : 0u)
        << row.name;
  }
}

// Destroying the accessor while the peer holds a request stops the run
// after that request.
TEST_F(NegotiationTest, DestroyingTheAccessorAbortsAfterTheCurrentRequest) {
  struct Row {
    std::string held;
    size_t requests_before;  // requests that have arrived when it is held
    std::vector<int> states;
  };
  const Row rows[] = {{kAccess, 1, {1, 5}}, {kRegister, 3, {1, 2, 3, 5}}};
  for (const Row& row : rows) {
    Answer held = row.held == kAccess ? kAccessOk : kRegisterOk;
    held.delay_ms = 500;
    NewPeer().SetAnswer(row.held, held);
    {
      WebServiceAccessor accessor;
      Start(accessor, false);
      ASSERT_TRUE(peer_->WaitForRequests(row.requests_before, std::chrono::milliseconds(10000)));
    }
    EXPECT_EQ(States(), row.states) << row.held;
    EXPECT_EQ(Results(), std::vector<ErrorCode>{WS_ERROR_ABORTED}) << row.held;
    EXPECT_FALSE(ReadTempFile("key.tmp").has_value()) << row.held;
    EXPECT_EQ(peer_->Requests().size(), row.requests_before) << row.held;
  }
  {
    WebServiceAccessor never_started;
    ASSERT_EQ(never_started.Initialize(3, "t", "b", 0, 0, "g", false, "k", 0, 0, 0, 0, 0, 0),
              WS_SUCCESS);
    ClearRecords();
  }
  EXPECT_TRUE(Results().empty());
}

}  // namespace
}  // namespace vanta
