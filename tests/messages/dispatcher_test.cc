// The three dispatcher requests through the public API against a local
// peer, and JSON numbers under a locale with a decimal comma.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>

#include "messages/Json.h"
#include "tests/support/LocalPeer.h"
#include "vanta/WebService.h"

namespace vanta {
namespace {

using testing::Reply;

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(service.Initialize(), WS_SUCCESS);
    service.SetUrlArbiterBase(peer.Url("/d/"));
  }

  ErrorCode Gameservice(const WebService::ClientEnvironmentInfo& env, int video_profile,
                        int audio_profile) {
    std::string ipv4, ipv6, key1, key2;
    int control = 0, video = 0, audio = 0, input = 0;
    WebService::QualityParams quality{};
    return service.RequestZuGameservice(3, "acc", video_profile, audio_profile, 7, 9, 6, 8, 5, 709,
                                        0, env, ipv4, ipv6, control, video, audio, input, key1,
                                        key2, quality);
  }

  testing::LocalPeer peer;
  WebService service;
};

TEST_F(DispatcherTest, RequestBodiesAreExactBytes) {
  WebService::ClientEnvironmentInfo env;
  env.entries = {{"b", "2"},
                 {"\x80", "x"},
                 {"a", "1"},
                 {std::string("k\0z", 3), "v"},
                 {"c", std::string("v\0w", 3)}};
  std::string token, key;
  const std::pair<std::function<ErrorCode()>, std::string> rows[] = {
      {[&] { return service.RequestZuToken(3, "x", 0, token, key); },
       R"(request_token {"action":"request_token","client_version":3,"gameid":"x","try_count":0})"},
      {[&] { return service.RequestZuToken(0, "a/b\t\x01\x7f\xc3\xa9\"\\", -1, token, key); },
       R"(request_token {"action":"request_token","client_version":0,"gameid":"a\/b\t\u0001\u007f)"
       "\xc3\xa9"
       R"(\"\\","try_count":-1})"},
      {[&] { return service.RequestZuAccesstoken(3, "t/1", "k\n", 2, token); },
       R"(request_accesstoken {"action":"request_accesstoken","client_version":3,"token":"t\/1",)"
       R"("try_count":2,"zuc_key_value":"k\n"})"},
      {[&] { return Gameservice({}, 1, 2); },
       R"(request_gameservice {"access_token":"acc","action":"request_gameservice",)"
       R"("audio_profile":2,"client_version":3,"env":{},"io_gamepad":5,"io_keyboard":6,)"
       R"("io_mouse":7,"io_sensor":8,"io_touch":9,"try_count":0,"video_profile":1,)"
       R"("yuv_itu_r_bt":709})"},
      {[&] { return Gameservice(env, -1, INT_MIN); },
       R"(request_gameservice {"access_token":"acc","action":"request_gameservice",)"
       R"("audio_profile":-2147483648,"client_version":3,"env":{"a":"1","b":"2","c":"v","k":"v",")"
       "\x80"
       R"(":"x"},"io_gamepad":5,"io_keyboard":6,"io_mouse":7,"io_sensor":8,"io_touch":9,)"
       R"("try_count":0,"video_profile":-1,"yuv_itu_r_bt":709})"},
  };
  for (const auto& [call, expected] : rows) {
    call();  // the peer answers 404: only what was sent matters here
    const testing::RecordedRequest request = peer.Requests().back();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path.substr(3) + " " + request.body, expected);
  }
  EXPECT_EQ(peer.Requests().size(), 5u);
}

// The answer check that every dispatcher answer passes, seen through
// request_token: outputs change only on success, and all of them together.
TEST_F(DispatcherTest, AnswerEnvelope) {
  const std::string ok = R"({"status":"ok","token":"t","zuc_key_value":"k")";
  struct Row {
    std::string answer;
    uint32_t code;
    std::string token;  // "old" when the outputs must stay untouched
  } rows[] = {
      {"", WS_ERROR_BAD_RESPONSE, "old"},
      {"[]", WS_ERROR_BAD_RESPONSE, "old"},
      {"null", WS_ERROR_BAD_RESPONSE, "old"},
      {R"("ok")", WS_ERROR_BAD_RESPONSE, "old"},
      {" \t\r\n" + ok + "} trailing [", WS_SUCCESS, "t"},
      {"\xef\xbb\xbf" + ok + "}", WS_ERROR_BAD_RESPONSE, "old"},
      {ok + R"(,"n":1e999})", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"OK"})", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"ng","result":8,"message":""})", WS_ERROR_SERVER_RESULT_8, "old"},
      {R"({"status":"ng","result":8.9,"message":"x"})", WS_ERROR_SERVER_RESULT_8, "old"},
      {R"({"status":"ng","result":"8","message":"x"})", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"ng","result":8,"message":1})", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"ng","result":0,"message":"x"})", WS_ERROR_SERVER_ERROR, "old"},
      {R"({"status":"ng","result":1e10,"message":"x"})", WS_ERROR_SERVER_ERROR, "old"},
      {R"({"status":"ng","result":4294967306,"message":"x"})", WS_ERROR_SERVER_ERROR, "old"},
      {R"({"status":"ng","result":8})", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"ng","status":"ok","token":"t","zuc_key_value":"k"})", WS_SUCCESS, "t"},
      {ok + R"(,"status":"ng"})", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"ok","token":"t"})", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"ok","token":1,"zuc_key_value":"k"})", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"ok","token":"\u00e9\ud83d\ude00","zuc_key_value":"k"})", WS_SUCCESS,
       "\xc3\xa9\xf0\x9f\x98\x80"},
      {R"({"status":"ok","token":"\udc00","zuc_key_value":"k"})", WS_ERROR_BAD_RESPONSE, "old"},
      {R"({"status":"ok","token":"\ud83d","zuc_key_value":"k"})", WS_ERROR_BAD_RESPONSE, "old"},
      {std::string(1000000, '['), WS_ERROR_BAD_RESPONSE, "old"},
  };
  for (const Row& row : rows) {
    peer.SetAnswer("/d/request_token", Reply(row.answer));
    std::string token = "old", key = "old";
    EXPECT_EQ(service.RequestZuToken(3, "x", 0, token, key), row.code) << row.answer.substr(0, 80);
    EXPECT_EQ(token + " " + key, row.token + (row.token == "old" ? " old" : " k"))
        << row.answer.substr(0, 80);
  }
  // The access token answer: an empty token is one; a missing one is not.
  std::string access_token = "old";
  peer.SetAnswer("/d/request_accesstoken", Reply(R"({"status":"ok","token":"a"})"));
  EXPECT_EQ(service.RequestZuAccesstoken(3, "t", "k", 0, access_token), WS_ERROR_BAD_RESPONSE);
  EXPECT_EQ(access_token, "old");
  peer.SetAnswer("/d/request_accesstoken", Reply(R"({"status":"ok","access_token":""})"));
  EXPECT_EQ(service.RequestZuAccesstoken(3, "t", "k", 0, access_token), WS_SUCCESS);
  EXPECT_EQ(access_token, "");
}

// Makes the C locale one whose decimal separator is ",", generating
// de_DE.UTF-8 into a private directory when the system lacks it.
bool UseCommaLocale() {
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
    // One directory per process: other test runs may generate at once.
    std::string dir = ::testing::TempDir() + "vanta-locales-" + std::to_string(getpid());
    std::string command = "mkdir -p '" + dir + "' && localedef -i de_DE -f UTF-8 '" + dir +
                          "/de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return false;
    setenv("LOCPATH", dir.c_str(), 1);
    bool made = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    // The loaded locale stays mapped; its files are no longer needed.
    if (std::system(("rm -rf '" + dir + "'").c_str()) != 0 || !made) return false;
  }
  return std::string(std::localeconv()->decimal_point) == ",";
}

TEST(JsonTest, NumbersUseDotUnderCommaLocale) {
  if (!UseCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma could be made";
  const std::pair<double, std::string> rows[] = {{1.5, "1.5"},
                                                 {-0.25, "-0.25"},
                                                 {9007199254740993.0, "9007199254740992"},
                                                 {1e300, "1.0000000000000001e+300"}};
  for (const auto& [number, text] : rows) {
    EXPECT_EQ(json::Write(picojson::value(number)), text);
    picojson::value parsed;
    ASSERT_EQ(json::Parse(text, parsed), WS_SUCCESS) << text;
    EXPECT_EQ(parsed.get<double>(), number) << text;
  }
  std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace vanta
