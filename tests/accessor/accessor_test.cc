#include "vanta/WebServiceAccessor.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <chrono>
#include <thread>

#include "tests/accessor/RunnerFixture.h"
#include "tests/support/LocalPeer.h"
#include "tests/support/TestWebApiHost.h"

namespace vanta {
namespace {

const std::string kRegister = "/game/razever/app/APIEX/SorvaneClient/SendDeviceId";

class AccessorTest : public testing::RunnerTest {};

testing::Answer Json(const std::string& body) {
  testing::Answer answer;
  answer.body = body;
  return answer;
}

TEST_F(AccessorTest, InitializeResetsTheOutputsAndKeepsTheLevels) {
  WebServiceAccessor accessor;
  EXPECT_EQ(accessor.GetState(), WebServiceAccessor::State::IDLE);
  EXPECT_EQ(accessor.GetYuvItuRBt(), 709);
  EXPECT_EQ(accessor.GetAudioProfile(), 2);
  EXPECT_EQ(accessor.GetIoMouse() + accessor.GetIoTouch() + accessor.GetIoKeyboard() +
                accessor.GetIoSensor() * 10 + accessor.GetIoGamepad(),
            4);
  EXPECT_EQ(accessor.Start(), WS_ERROR_THREAD_START);  // not initialised

  testing::LocalPeer peer;
  peer.SetAnswer("/request_accesstoken", Json(R"({"status":"ok","access_token":"A"})"));
  peer.SetAnswer("/request_gameservice",
                 Json(R"({"status":"ok","gameid":"g","ipv4":"1.2.3.4","ipv6":"","control_port":)"
                      R"(1,"video_port":2,"audio_port":3,"input_port":4,"key1":"a","key2":"b",)"
                      R"("config":{"version":1,"audio":[{"level":0,"bitrate":96}],"video":[)"
                      R"({"level":0,"bitrateRatio":5,"fps":30,"resolutionRatio":7}]}})"));
  testing::SetWebApiOriginForTesting(peer.Url(""));
  accessor.MutableClientEnvironmentInfo().entries["os"] = "linux";
  ASSERT_EQ(
      accessor.Initialize(1, "t", peer.Url("/").c_str(), 2, 3, "g", false, "k", 4, 5, 6, 7, 8, 601),
      WS_SUCCESS);
  ASSERT_EQ(accessor.Start(), WS_SUCCESS);
  EXPECT_EQ(accessor.Start(), WS_ERROR_THREAD_START);
  accessor.Join(nullptr);
  ASSERT_EQ(accessor.GetState(), WebServiceAccessor::State::COMPLETE);

  // Copies take every member, but not the thread's runnable.
  WebServiceAccessor copy(accessor);
  WebServiceAccessor assigned;
  assigned = copy;
  EXPECT_EQ(assigned.GetState(), WebServiceAccessor::State::COMPLETE);
  EXPECT_EQ(assigned.GetIpv4() + assigned.GetAccessToken(), "1.2.3.4A");
  EXPECT_EQ(assigned.GetQualityParams().video[0].resolution_ratio, 7);
  EXPECT_EQ(assigned.GetClientEnvironmentInfo().entries.at("os"), "linux");
  EXPECT_EQ(assigned.GetIoSensor() * 1000 + assigned.GetYuvItuRBt(), 7601);
  EXPECT_EQ(copy.Start(), WS_ERROR_THREAD_START);

  ASSERT_EQ(accessor.Initialize(9, "t2", "b2", 0, 0, "g2", true, "k2", 0, 0, 0, 0, 0, 709),
            WS_SUCCESS);
  const WebService::QualityParams& quality = accessor.GetQualityParams();
  EXPECT_EQ(accessor.GetState(), WebServiceAccessor::State::IDLE);
  EXPECT_EQ(accessor.GetResult(), WS_SUCCESS);
  EXPECT_EQ(accessor.GetAccessToken() + accessor.GetIpv4() + accessor.GetKey1(), "");
  EXPECT_EQ(accessor.GetControlPort() + accessor.GetInputPort(), 0);
  EXPECT_EQ(quality.version + quality.audio_level_count, 0);
  EXPECT_EQ(quality.video_level_count, 1);
  EXPECT_EQ(quality.audio_bitrate[0], 96);
  EXPECT_EQ(accessor.GetClientEnvironmentInfo().entries.size(), 1u);
  EXPECT_EQ(accessor.GetToken() + accessor.GetZucKeyValue() + accessor.GetGameid(), "t2k2g2");
}

// While the owner waits in Join, the worker's thread reports the request
// to end; the peer asks while it holds the request.
TEST_F(AccessorTest, IsTermRequestWhileTheOwnerJoins) {
  testing::LocalPeer peer;
  WebServiceAccessor accessor;
  std::atomic<bool> seen{false};
  peer.SetHandler("/request_accesstoken", [&](const httplib::Request&, httplib::Response& res) {
    for (int i = 0; i < 10000 && !accessor.IsTermRequest(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    seen = accessor.IsTermRequest();
    res.set_content(R"({"status":"ng","result":2,"message":""})", "application/json");
  });
  EXPECT_FALSE(accessor.IsTermRequest());
  ASSERT_EQ(
      accessor.Initialize(1, "t", peer.Url("/").c_str(), 0, 0, "g", false, "k", 0, 0, 0, 0, 0, 709),
      WS_SUCCESS);
  ASSERT_EQ(accessor.Start(), WS_SUCCESS);
  ErrorCode result;
  accessor.Join(&result);
  EXPECT_TRUE(seen.load());
  EXPECT_EQ(result, WS_ERROR_SERVER_RESULT_2_5_6_7);
  EXPECT_FALSE(accessor.IsTermRequest());
}

TEST_F(AccessorTest, CreateAndSendDeviceIdSendsTheKeyFileAsItIs) {
  struct Row {
    const char* name;
    std::optional<std::string> key_file;
    bool identifier;
    std::vector<testing::Answer> answers;
    std::vector<std::string> keys_sent;
    std::vector<unsigned> waits;
  };
  testing::Answer refused;
  refused.status = 500;
  const Row rows[] = {
      {"no key file", std::nullopt, true, {}, {}, {}},
      {"key with a line feed", "KEY\nrest", true, {}, {"KEY\n"}, {}},
      {"registration retried", "K", true, {refused}, {"K", "K", "K"}, {2000, 3000}},
      {"no identifier", "K", false, {}, {}, {}},
  };
  for (const Row& row : rows) {
    testing::LocalPeer peer;
    peer.SetAnswers(kRegister,
                    row.answers.empty()
                        ? std::vector<testing::Answer>{Json(R"({"status":0,"message":""})")}
                        : row.answers);
    testing::SetWebApiOriginForTesting(peer.Url(""));
    std::remove((dir_ + "/key.tmp").c_str());
    if (row.key_file) WriteTempFile("key.tmp", *row.key_file);
    if (!row.identifier) SetUuidFileBytes(std::nullopt);
    ClearRecords();
    WebServiceAccessor accessor;
    accessor.CreateAndSendDeviceId();
    std::vector<std::string> keys;
    for (const testing::RecordedRequest& request : peer.RequestsTo(kRegister)) {
      picojson::value body;
      picojson::parse(body, request.body);
      keys.push_back(body.get("zu_key_value").to_str());
      EXPECT_EQ(body.get("device_id").to_str(), ExpectedDeviceId()) << row.name;
      EXPECT_EQ(body.get("request_type").to_str(), "1") << row.name;
    }
    EXPECT_EQ(keys, row.keys_sent) << row.name;
    EXPECT_EQ(Waits(), row.waits) << row.name;
    EXPECT_TRUE(States().empty()) << row.name;
  }
}

}  // namespace
}  // namespace vanta
