// The three dispatcher requests through the public API against a local peer.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "tests/messages/AnswerOf.h"
#include "tests/support/LocalPeer.h"
#include "tests/support/TestWebApiHost.h"
#include "vanta/WebService.h"

namespace vanta {
namespace {

using testing::AnswerOf;
using testing::LocalPeer;

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(service.Initialize(), WS_SUCCESS);
    service.SetUrlArbiterBase(peer.Url("/d/"));
  }

  static ErrorCode Gameservice(WebService& s, const WebService::ClientEnvironmentInfo& env,
                               int video_profile, int audio_profile) {
    std::string ipv4, ipv6, key1, key2;
    int control = 0, video = 0, audio = 0, input = 0;
    WebService::QualityParams quality{};
    return s.RequestZuGameservice(3, "acc", video_profile, audio_profile, 7, 9, 6, 8, 5, 709, 0,
                                  env, ipv4, ipv6, control, video, audio, input, key1, key2,
                                  quality);
  }

  LocalPeer peer;
  WebService service;
};

TEST_F(DispatcherTest, RequestBodiesAreExactBytes) {
  WebService::ClientEnvironmentInfo env;
  env.entries = {{"b", "2"},
                 {"\x80", "x"},
                 {"a", "1"},
                 {std::string("k\0z", 3), "v"},
                 {"c", std::string("v\0w", 3)}};
  struct Row {
    std::function<ErrorCode()> call;
    std::string path;
    std::string body;
  };
  std::string token, key;
  const Row rows[] = {
      {[&] { return service.RequestZuToken(3, "x", 0, token, key); }, "/d/request_token",
       R"({"action":"request_token","client_version":3,"gameid":"x","try_count":0})"},
      {[&] { return service.RequestZuToken(0, "a/b\t\x01\x7f\xc3\xa9\"\\", -1, token, key); },
       "/d/request_token",
       R"({"action":"request_token","client_version":0,"gameid":"a\/b\t\u0001\u007f)"
       "\xc3\xa9"
       R"(\"\\","try_count":-1})"},
      {[&] { return service.RequestZuAccesstoken(3, "t/1", "k\n", 2, token); },
       "/d/request_accesstoken",
       R"({"action":"request_accesstoken","client_version":3,"token":"t\/1","try_count":2,)"
       R"("zuc_key_value":"k\n"})"},
      {[&] { return Gameservice(service, {}, 1, 2); }, "/d/request_gameservice",
       R"({"access_token":"acc","action":"request_gameservice","audio_profile":2,)"
       R"("client_version":3,"env":{},"io_gamepad":5,"io_keyboard":6,"io_mouse":7,)"
       R"("io_sensor":8,"io_touch":9,"try_count":0,"video_profile":1,"yuv_itu_r_bt":709})"},
      {[&] { return Gameservice(service, env, -1, INT_MIN); }, "/d/request_gameservice",
       R"({"access_token":"acc","action":"request_gameservice","audio_profile":-2147483648,)"
       R"("client_version":3,"env":{"a":"1","b":"2","c":"v","k":"v",")"
       "\x80"
       R"(":"x"},"io_gamepad":5,"io_keyboard":6,"io_mouse":7,)"
       R"("io_sensor":8,"io_touch":9,"try_count":0,"video_profile":-1,"yuv_itu_r_bt":709})"},
  };
  for (const Row& row : rows) {
    size_t before = peer.Requests().size();
    row.call();  // the peer answers 404: only what was sent matters here
    auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), before + 1) << row.body;
    EXPECT_EQ(requests.back().method, "POST");
    EXPECT_EQ(requests.back().path, row.path);
    EXPECT_EQ(requests.back().body, row.body);
  }
}

// The answer check that every dispatcher answer passes, seen through
// request_token: outputs change only on success, and all of them together.
TEST_F(DispatcherTest, AnswerEnvelope) {
  const std::string ok_members = R"("token":"t","zuc_key_value":"k")";
  struct Row {
    std::string answer;
    uint32_t code;
    std::string token;  // "old" when the outputs must stay untouched
  };
  const Row rows[] = {
      {"", WS_ERROR_BAD_RESPONSE, "old"},
      {"[]", WS_ERROR_BAD_RESPONSE, "old"},
      {"null", WS_ERROR_BAD_RESPONSE, "old"},
      {R"("ok")", WS_ERROR_BAD_RESPONSE, "old"},
      {" \t\r\n{\"status\":\"ok\"," + ok_members + "} trailing [", WS_SUCCESS, "t"},
      {"\xef\xbb\xbf{\"status\":\"ok\"," + ok_members + "}", WS_ERROR_BAD_RESPONSE, "old"},
      {"{\"status\":\"ok\"," + ok_members + ",\"n\":1e999}", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"OK"})", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"ok "})", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":1})", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"ng","result":8,"message":""})", WS_ERROR_SERVER_RESULT_8, "old"},
      {R"({"status":"ng","result":8.9,"message":"x"})", WS_ERROR_SERVER_RESULT_8, "old"},
      {R"({"status":"ng","result":"8","message":"x"})", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"ng","result":8,"message":1})", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"ng","result":0,"message":"x"})", WS_ERROR_SERVER_ERROR, "old"},
      {R"({"status":"ng","result":1e10,"message":"x"})", WS_ERROR_SERVER_ERROR, "old"},
      {R"({"status":"ng","result":4294967306,"message":"x"})", WS_ERROR_SERVER_ERROR, "old"},
      {R"({"status":"ng","result":10,"message":"busy"})", WS_ERROR_SERVER_RESULT_10, "old"},
      {R"({"status":"ng","result":8})", WS_ERROR_BAD_RESPONSE, "old"},
      {"{\"status\":\"ng\",\"status\":\"ok\"," + ok_members + "}", WS_SUCCESS, "t"},
      {"{\"status\":\"ok\",\"status\":\"ng\"," + ok_members + "}", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"ok","token":"t"})", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"ok","token":1,"zuc_key_value":"k"})", WS_ERROR_BAD_RESPONSE, "old"},
      {"{\"status\":\"ok\"," + ok_members + ",\"x\":[null,true]}", WS_SUCCESS, "t"},
      {R"({"status":"ok","token":"\u00e9\ud83d\ude00","zuc_key_value":"k"})", WS_SUCCESS,
       "\xc3\xa9\xf0\x9f\x98\x80"},
      {R"({"status":"ok","token":"\udc00","zuc_key_value":"k"})", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"ok","token":"\ud83d","zuc_key_value":"k"})", WS_ERROR_BAD_RESPONSE, "old"},
      {std::string(1000000, '['), WS_ERROR_BAD_RESPONSE, "old"},
  };
  for (const Row& row : rows) {
    peer.SetAnswer("/d/request_token", AnswerOf(row.answer));
    std::string token = "old", key = "old";
    EXPECT_EQ(service.RequestZuToken(3, "x", 0, token, key), row.code) << row.answer.substr(0, 80);
    EXPECT_EQ(token, row.token) << row.answer.substr(0, 80);
    EXPECT_EQ(key, row.token == "old" ? "old" : "k") << row.answer.substr(0, 80);
  }
}

TEST_F(DispatcherTest, AccessTokenAnswer) {
  peer.SetAnswer("/d/request_accesstoken", AnswerOf(R"({"status":"ok","access_token":""})"));
  std::string access_token = "old";
  EXPECT_EQ(service.RequestZuAccesstoken(3, "t", "k", 0, access_token), WS_SUCCESS);
  EXPECT_EQ(access_token, "");
  access_token = "old";
  peer.SetAnswer("/d/request_accesstoken", AnswerOf(R"({"status":"ok","token":"a"})"));
  EXPECT_EQ(service.RequestZuAccesstoken(3, "t", "k", 0, access_token), WS_ERROR_BAD_RESPONSE);
  EXPECT_EQ(access_token, "old");
}

TEST_F(DispatcherTest, EveryRequestRefusedUninitializedOrTerminated) {
  testing::SetWebApiOriginForTesting(peer.Url(""));
  WebService fresh;
  service.Terminate();
  std::string text = "old";
  int status = 1;
  for (WebService* s : {&fresh, &service}) {
    s->SetUrlArbiterBase(peer.Url("/d/"));
    s->SetUriRequestLauncherMonitorPut(peer.Url("/m"));
    s->SetUrlSendDeviceId();
    EXPECT_EQ(s->RequestZuToken(3, "x", 0, text, text), WS_ERROR_FAILED);
    EXPECT_EQ(s->RequestZuAccesstoken(3, "x", "k", 0, text), WS_ERROR_FAILED);
    EXPECT_EQ(Gameservice(*s, {}, 1, 2), WS_ERROR_FAILED);
    EXPECT_EQ(s->RequestLauncherMonitorPut(1, 2, 3, 4, 5, "", 6), WS_ERROR_FAILED);
    EXPECT_EQ(s->RequestSendDeviceId("k", "d", &text, &status, "0", "1.1.0"), WS_ERROR_FAILED);
  }
  EXPECT_EQ(text, "old");
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(peer.Requests().empty());
}

}  // namespace
}  // namespace vanta
