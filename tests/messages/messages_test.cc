// Every endpoint request through the public API against a local peer, and
// JSON numbers under a locale with a decimal comma.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>

#include "messages/Json.h"
#include "tests/support/LocalPeer.h"
#include "tests/support/TestEnv.h"
#include "vanta/WebService.h"

namespace vanta {
namespace {

using testing::Reply;

class RequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.web_api_origin = peer.Url("");
    ASSERT_EQ(service.Initialize(), WS_SUCCESS);
    service.SetUrlArbiterBase(peer.Url("/d/"));
    service.SetUriRequestLauncherMonitorPut(peer.Url("/monitor/put"));
    service.SetUrlSendDeviceId();
    peer.SetAnswer("/monitor/put", Reply(R"({"status":"ok"})"));
  }
  ErrorCode Report() { return service.RequestLauncherMonitorPut(1, 2, 3, 4, 5, "ip", 6); }

  ErrorCode Gameservice(const WebService::ClientEnvironmentInfo& env, int video_profile,
                        int audio_profile) {
    std::string ipv4, ipv6, key1, key2;
    int control = 0, video = 0, audio = 0, input = 0;
    WebService::QualityParams quality{};
    return service.RequestZuGameservice(3, "acc", video_profile, audio_profile, 7, 9, 6, 8, 5, 709,
                                        0, env, ipv4, ipv6, control, video, audio, input, key1,
                                        key2, quality);
  }

  testing::TestEnv env;
  testing::LocalPeer peer;
  WebService service;
};

TEST_F(RequestsTest, RequestsAreExactBytes) {
  WebService::ClientEnvironmentInfo env;
  env.entries = {{"b", "2"},
                 {"\x80", "x"},
                 {"a", "1"},
                 {std::string("k\0z", 3), "v"},
                 {"c", std::string("v\0w", 3)}};
  std::string token, key;
  int status = 0;
  const std::pair<std::function<ErrorCode()>, std::string> rows[] = {
      {[&] { return service.RequestZuToken(3, "x", 0, token, key); },
       R"(POST /d/request_token {"action":"request_token","client_version":3,"gameid":"x","try_count":0})"},
      {[&] {
         return service.RequestZuAccesstoken(3, "t/1\x80", std::string("k\n\0", 3), 2, token);
       },
       R"(POST /d/request_accesstoken {"action":"request_accesstoken","client_version":3,"token":"t\/1)"
       "\x80"
       R"(","try_count":2,"zuc_key_value":"k\n\u0000"})"},
      {[&] { return Gameservice({}, 1, 2); },
       R"(POST /d/request_gameservice {"access_token":"acc","action":"request_gameservice",)"
       R"("audio_profile":2,"client_version":3,"env":{},"io_gamepad":5,"io_keyboard":6,)"
       R"("io_mouse":7,"io_sensor":8,"io_touch":9,"try_count":0,"video_profile":1,)"
       R"("yuv_itu_r_bt":709})"},
      {[&] { return Gameservice(env, -1, INT_MIN); },
       R"(POST /d/request_gameservice {"access_token":"acc","action":"request_gameservice",)"
       R"("audio_profile":-2147483648,"client_version":3,"env":{"a":"1","b":"2","c":"v","k":"v",")"
       "\x80"
       R"(":"x"},"io_gamepad":5,"io_keyboard":6,"io_mouse":7,"io_sensor":8,"io_touch":9,)"
       R"("try_count":0,"video_profile":-1,"yuv_itu_r_bt":709})"},
      {[&] { return service.RequestLauncherMonitorPut(3, 10, 20, 30, 40, "10.0.0.5", 5000); },
       "GET /monitor/put?slotid=3&capture_down_time=10&heartbeat_down_time=20&"
       "handling_down_time=30&client_delay=40&remote_ip=10.0.0.5&remote_port=5000 "},
      {[&] { return service.RequestLauncherMonitorPut(0, 0, 0, 0, -1, "", 0); },
       "GET /monitor/put?slotid=0&capture_down_time=0&heartbeat_down_time=0&"
       "handling_down_time=0&client_delay=-1&remote_ip=none&remote_port=0 "},
      {[&] { return service.RequestLauncherMonitorPut(INT_MIN, INT_MAX, 7, 8, 9, "a&b=c", -1); },
       "GET /monitor/put?slotid=-2147483648&capture_down_time=2147483647&heartbeat_down_time=7&"
       "handling_down_time=8&client_delay=9&remote_ip=a&b=c&remote_port=-1 "},
      {[&] {
         return service.RequestSendDeviceId("key/1", "dev\nid", &token, &status, "0", "1.1.0");
       },
       R"(POST /game/razever/app/APIEX/SorvaneClient/SendDeviceId {"client_version":"1.1.0",)"
       R"("device_id":"dev\nid","request_type":"0","zu_key_value":"key\/1"})"},
  };
  for (const auto& [call, expected] : rows) {
    call();  // only what was sent matters here
    const testing::RecordedRequest request = peer.Requests().back();
    EXPECT_EQ(request.method + " " + request.target + " " + request.body, expected);
  }
  EXPECT_EQ(peer.Requests().size(), std::size(rows));
  // A space goes into the monitor query as it is, and libcurl refuses such
  // an address as malformed before anything is sent.
  EXPECT_EQ(service.RequestLauncherMonitorPut(1, 2, 3, 4, 5, "a b", 6), WS_ERROR_URL_MALFORMED);
  EXPECT_EQ(peer.Requests().size(), std::size(rows));
}

// The answer check that every dispatcher answer passes, seen through
// request_token: outputs change only on success, and all of them together.
TEST_F(RequestsTest, AnswerEnvelope) {
  const std::string ok = R"({"status":"ok","token":"t","zuc_key_value":"k")";
  std::string objects;  // nested 200,000 deep
  for (int i = 0; i < 200000; ++i) objects += "{\"a\":";
  // Each row: the answer, its code, and the token and key value after it
  // (both "old" when the outputs must stay untouched).
  const std::tuple<std::string, uint32_t, std::string> rows[] = {
      {"", WS_ERROR_BAD_RESPONSE, "old old"},
      {"[]", WS_ERROR_BAD_RESPONSE, "old old"},
      {"null", WS_ERROR_BAD_RESPONSE, "old old"},
      {R"("ok")", WS_ERROR_BAD_RESPONSE, "old old"},
      {" \t\r\n" + ok + "} trailing [", WS_SUCCESS, "t k"},
      {"\xef\xbb\xbf" + ok + "}", WS_ERROR_BAD_RESPONSE, "old old"},
      {ok + R"(,"n":1e999})", WS_ERROR_BAD_RESPONSE, "old old"},
      {R"({"status":"OK"})", WS_ERROR_BAD_RESPONSE, "old old"},
      {R"({"status":"ng","result":8,"message":""})", WS_ERROR_SERVER_RESULT_8, "old old"},
      {R"({"status":"ng","result":8.9,"message":"x"})", WS_ERROR_SERVER_RESULT_8, "old old"},
      {R"({"status":"ng","result":"8","message":"x"})", WS_ERROR_BAD_RESPONSE, "old old"},
      {R"({"status":"ng","result":0,"message":"x"})", WS_ERROR_SERVER_ERROR, "old old"},
      {R"({"status":"ng","result":1e10,"message":"x"})", WS_ERROR_SERVER_ERROR, "old old"},
      {R"({"status":"ng","result":4294967306,"message":"x"})", WS_ERROR_SERVER_ERROR, "old old"},
      {R"({"status":"ng","result":8})", WS_ERROR_BAD_RESPONSE, "old old"},
      {R"({"status":"ng","status":"ok","token":"t","zuc_key_value":"k"})", WS_SUCCESS, "t k"},
      {R"({"status":"ok","token":"t"})", WS_ERROR_BAD_RESPONSE, "old old"},
      {R"({"status":"ok","token":"\u00e9\ud83d\ude00","zuc_key_value":"k"})", WS_SUCCESS,
       "\xc3\xa9\xf0\x9f\x98\x80 k"},
      {R"({"status":"ok","token":"\ud83d","zuc_key_value":"k"})", WS_ERROR_BAD_RESPONSE, "old old"},
      {std::string(1000000, '['), WS_ERROR_BAD_RESPONSE, "old old"},
      {ok + ",\"x\":" + objects, WS_ERROR_BAD_RESPONSE, "old old"},
      {std::string(R"({"status":"ok","token":"a)") + '\0' + R"(b","zuc_key_value":"k"})",
       WS_ERROR_BAD_RESPONSE, "old old"},  // a raw NUL is a control byte, not text
      // Invalid UTF-8 and an escaped NUL arrive as the very bytes.
      {R"({"status":"ok","token":")"
       "\x80\xc3\xff"
       R"(","zuc_key_value":"a\u0000b"})",
       WS_SUCCESS, std::string("\x80\xc3\xff a\0b", 7)},
  };
  for (const auto& [answer, code, outputs] : rows) {
    peer.SetAnswer("/d/request_token", Reply(answer));
    std::string token = "old", key = "old";
    EXPECT_EQ(service.RequestZuToken(3, "x", 0, token, key), code) << answer.substr(0, 80);
    EXPECT_EQ(token + " " + key, outputs) << answer.substr(0, 80);
  }
  // A refusal is traced with the server's result and message.
  testing::TraceLog trace;
  peer.SetAnswer("/d/request_token", Reply(R"({"status":"ng","result":2,"message":"not\nhere"})"));
  std::string token, key;
  EXPECT_EQ(service.RequestZuToken(3, "x", 0, token, key), WS_ERROR_SERVER_RESULT_2_5_6_7);
  EXPECT_EQ(trace.With("refused").at(0), "request_token refused: result 2, message \"not here\"");
  // The access token answer: an empty token is one; a missing one is not.
  std::string access_token = "old";
  peer.SetAnswer("/d/request_accesstoken", Reply(R"({"status":"ok","token":"a"})"));
  EXPECT_EQ(service.RequestZuAccesstoken(3, "t", "k", 0, access_token), WS_ERROR_BAD_RESPONSE);
  EXPECT_EQ(access_token, "old");
  peer.SetAnswer("/d/request_accesstoken", Reply(R"({"status":"ok","access_token":""})"));
  EXPECT_EQ(service.RequestZuAccesstoken(3, "t", "k", 0, access_token), WS_SUCCESS);
  EXPECT_EQ(access_token, "");
}

TEST_F(RequestsTest, MonitorAnswerMustSayOk) {
  const std::pair<std::string, uint32_t> rows[] = {
      {R"({"status":"ok"})", WS_SUCCESS},
      {R"( {"extra":1,"status":"ok"} x)", WS_SUCCESS},
      {R"({"status":"OK"})", WS_ERROR_BAD_RESPONSE},
      {R"({"status":"ng","result":8,"message":"x"})", WS_ERROR_BAD_RESPONSE},
      {R"({"status":0})", WS_ERROR_BAD_RESPONSE},
      {"", WS_ERROR_BAD_RESPONSE},
  };
  for (const auto& [answer, code] : rows) {
    peer.SetAnswer("/monitor/put", Reply(answer));
    EXPECT_EQ(Report(), code) << answer;
  }
}

// The address from its parts; a refused address keeps the old one. A failed
// report closes the connection and the next one opens another.
TEST_F(RequestsTest, MonitorAddressFromParts) {
  struct Row {
    std::string scheme;
    int port;
    std::string path;
    uint32_t set_code;
    std::string reached_path;  // on the peer; empty: not reached
    uint32_t report_code;
    bool same_connection;  // as the report before
  };
  const int port = peer.port();
  const Row rows[] = {
      {"http://", port, "monitor/put", WS_SUCCESS, "/monitor/put", WS_SUCCESS, false},
      {"HTTP://", port, "other", WS_ERROR_FAILED, "/monitor/put", WS_SUCCESS, true},
      {"http:", port, "other", WS_ERROR_FAILED, "/monitor/put", WS_SUCCESS, true},
      // Accepted: the report now goes to a port where nothing listens.
      {"https://", testing::ClosedLoopbackPort(), "monitor/put", WS_SUCCESS, "",
       WS_ERROR_CONNECT_FAILED, false},
      {"http://", port, "/monitor/put", WS_SUCCESS, "//monitor/put", WS_ERROR_SERVER_ERROR, false},
      {"http://", port, "monitor/put", WS_SUCCESS, "/monitor/put", WS_SUCCESS, false},
  };
  int last_port = -1;
  for (const Row& row : rows) {
    const std::string name = row.scheme + std::to_string(row.port) + row.path;
    const size_t sent = peer.Requests().size();
    EXPECT_EQ(service.SetUriRequestLauncherMonitorPut(row.scheme, "127.0.0.1", row.port, row.path),
              row.set_code)
        << name;
    EXPECT_EQ(Report(), row.report_code) << name;
    const auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), sent + (row.reached_path.empty() ? 0 : 1)) << name;
    if (row.reached_path.empty()) continue;
    EXPECT_EQ(requests.back().path, row.reached_path) << name;
    EXPECT_EQ(requests.back().headers.find("Host")->second, "127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(requests.back().client_port == last_port, row.same_connection) << name;
    last_port = requests.back().client_port;
  }
}

TEST_F(RequestsTest, DeviceIdRegistrationAnswers) {
  const char kPath[] = "/game/razever/app/APIEX/SorvaneClient/SendDeviceId";
  // The answer, its HTTP status, the code, and the status stored (-7: none).
  const std::tuple<std::string, int, uint32_t, int> rows[] = {
      {R"({"status":0,"message":""})", 200, WS_SUCCESS, -7},
      {R"({"status":2,"message":"x"})", 200, WS_ERROR_SERVER_RESULT_2_5_6_7, 2},
      {R"({"status":3.9,"message":"x"})", 200, WS_ERROR_SERVER_ERROR, 3},
      {R"({"message":"x"})", 200, WS_ERROR_BAD_RESPONSE, -7},
      {R"({"status":0,"message":""})", 400, WS_ERROR_SERVER_ERROR, -7},
  };
  for (const auto& [answer, http_status, code, stored] : rows) {
    peer.SetAnswer(kPath, Reply(answer, http_status));
    std::string response = "old";
    int status = -7;
    EXPECT_EQ(service.RequestSendDeviceId("k", "d", &response, &status, "0", "1.1.0"), code)
        << answer;
    EXPECT_EQ(status, stored) << answer;
    // The answer text is handed back whatever the outcome; an HTTP error
    // delivers no body.
    EXPECT_EQ(response, http_status == 200 ? answer : "") << answer;
  }
}

// Makes the C locale one whose decimal separator is ",", generating
// de_DE.UTF-8 into a private directory when the system lacks it.
bool UseCommaLocale() {
#if defined(_WIN32)
  if (std::setlocale(LC_ALL, "German_Germany.1252") == nullptr) return false;
#else
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
    // One directory per process, as other test runs may generate at once.
    // The loaded locale stays mapped; its files are no longer needed.
    const std::string dir = ::testing::TempDir() + "vanta-locales-" + std::to_string(getpid());
    const std::string make = "mkdir -p '" + dir + "' && localedef -i de_DE -f UTF-8 '" + dir +
                             "/de_DE.UTF-8' >/dev/null 2>&1";
    setenv("LOCPATH", dir.c_str(), 1);
    const bool made =
        std::system(make.c_str()) == 0 && std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    std::filesystem::remove_all(dir);
    if (!made) return false;
  }
#endif
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
    ASSERT_TRUE(json::Parse(text, parsed)) << text;
    EXPECT_EQ(parsed.get<double>(), number) << text;
  }
  std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace vanta
