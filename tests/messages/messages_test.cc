// Every endpoint request through the public API against a local peer, and
// the game service answer in detail.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>

#include "messages/Gameservice.h"
#include "service/Codes.h"
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

  testing::TestEnv env;
  testing::LocalPeer peer;
  WebService service;
};

TEST_F(RequestsTest, RequestsAreExactBytes) {
  WebService::ClientEnvironmentInfo env;
  env.entries = {
      {"b", "2"}, {"\x80", "x"}, {std::string("k\0z", 3), "v"}, {"c", std::string("v\0w", 3)}};
  std::string token, key;
  int status = 0, port = 0;
  WebService::QualityParams quality{};
  // What the peer got last, once the request's call (its code aside) is made.
  auto sent = [&](ErrorCode) {
    const testing::RecordedRequest request = peer.Requests().back();
    return request.method + " " + request.target + " " + request.body;
  };
  const std::pair<std::string, std::string> rows[] = {
      {sent(service.RequestZuToken(3, "x", 0, token, key)),
       R"(POST /d/request_token {"action":"request_token","client_version":3,"gameid":"x","try_count":0})"},
      {sent(service.RequestZuAccesstoken(3, "t/1\x80", std::string("k\n\0", 3), 2, token)),
       R"(POST /d/request_accesstoken {"action":"request_accesstoken","client_version":3,"token":"t\/1)"
       "\x80"
       R"(","try_count":2,"zuc_key_value":"k\n\u0000"})"},
      {sent(service.RequestZuGameservice(3, "acc", -1, INT_MIN, 7, 9, 6, 8, 5, 709, 0, env, token,
                                         key, port, port, port, port, token, key, quality)),
       R"(POST /d/request_gameservice {"access_token":"acc","action":"request_gameservice",)"
       R"("audio_profile":-2147483648,"client_version":3,"env":{"b":"2","c":"v","k":"v",")"
       "\x80"
       R"(":"x"},"io_gamepad":5,"io_keyboard":6,"io_mouse":7,"io_sensor":8,"io_touch":9,)"
       R"("try_count":0,"video_profile":-1,"yuv_itu_r_bt":709})"},
      {sent(service.RequestLauncherMonitorPut(INT_MIN, INT_MAX, 7, 8, -1, "", 5000)),
       "GET /monitor/put?slotid=-2147483648&capture_down_time=2147483647&heartbeat_down_time=7&"
       "handling_down_time=8&client_delay=-1&remote_ip=none&remote_port=5000 "},
      {sent(service.RequestSendDeviceId("key/1", "dev\nid", &token, &status, "0", "1.1.0")),
       R"(POST /game/razever/app/APIEX/SorvaneClient/SendDeviceId {"client_version":"1.1.0",)"
       R"("device_id":"dev\nid","request_type":"0","zu_key_value":"key\/1"})"},
  };
  for (const auto& [got, expected] : rows) EXPECT_EQ(got, expected);
  EXPECT_EQ(peer.Requests().size(), std::size(rows));
}

// The answer check that every dispatcher answer passes, seen through
// request_token: outputs change only on success, and all of them together.
TEST_F(RequestsTest, AnswerEnvelope) {
  const std::string ok = R"({"status":"ok","token":"t","zuc_key_value":"k")";
  // Each row: the answer, its code, and the token and key value after it
  // (both "old" when the outputs must stay untouched).
  const std::tuple<std::string, uint32_t, std::string> rows[] = {
      {"[]", WS_ERROR_BAD_RESPONSE, "old old"},
      {" \t\r\n" + ok + "} trailing [", WS_SUCCESS, "t k"},
      {"\xef\xbb\xbf" + ok + "}", WS_ERROR_BAD_RESPONSE, "old old"},
      {ok + R"(,"n":1e999})", WS_ERROR_BAD_RESPONSE, "old old"},
      {R"({"status":"OK"})", WS_ERROR_BAD_RESPONSE, "old old"},
      {R"({"status":"ng","result":8,"message":""})", WS_ERROR_SERVER_RESULT_8, "old old"},
      {R"({"status":"ng","result":"8","message":"x"})", WS_ERROR_BAD_RESPONSE, "old old"},
      {R"({"status":"ng","result":0,"message":"x"})", WS_ERROR_SERVER_ERROR, "old old"},
      {R"({"status":"ng","result":4294967306,"message":"x"})", WS_ERROR_SERVER_ERROR, "old old"},
      {R"({"status":"ng","result":8})", WS_ERROR_BAD_RESPONSE, "old old"},
      {R"({"status":"ng","status":"ok","token":"t","zuc_key_value":"k"})", WS_SUCCESS, "t k"},
      {R"({"status":"ok","token":"t"})", WS_ERROR_BAD_RESPONSE, "old old"},
      {R"({"status":"ok","token":"\u00e9\ud83d\ude00","zuc_key_value":"k"})", WS_SUCCESS,
       "\xc3\xa9\xf0\x9f\x98\x80 k"},
      {R"({"status":"ok","token":"\ud83d","zuc_key_value":"k"})", WS_ERROR_BAD_RESPONSE, "old old"},
      // At most 256 arrays and objects deep, the answer itself included.
      {ok + ",\"x\":" + std::string(255, '[') + std::string(255, ']') + "}", WS_SUCCESS, "t k"},
      {ok + ",\"x\":" + std::string(256, '[') + std::string(256, ']') + "}", WS_ERROR_BAD_RESPONSE,
       "old old"},
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
  // A refusal is traced with the server's result and message, an
  // unreadable answer with its first bytes.
  testing::TraceLog trace;
  peer.SetAnswer("/d/request_token", Reply(R"({"status":"ng","result":2,"message":"not\nhere"})"));
  std::string token, key;
  EXPECT_EQ(service.RequestZuToken(3, "x", 0, token, key), WS_ERROR_SERVER_RESULT_2_5_6_7);
  EXPECT_EQ(trace.With("refused").at(0),
            "request_token refused: result 2, message \"not\\x0Ahere\"");
  peer.SetAnswer("/d/request_token", Reply("<p>\x1B"));
  EXPECT_EQ(service.RequestZuToken(3, "x", 0, token, key), WS_ERROR_BAD_RESPONSE);
  EXPECT_EQ(
      trace.With("unreadable").at(0),
      "request_token unreadable answer, beginning \"<p>\\x1B\": 0xAC40C807 WS_ERROR_BAD_RESPONSE");
}

TEST_F(RequestsTest, MonitorAnswerMustSayOk) {
  const std::pair<std::string, uint32_t> rows[] = {
      {R"( {"extra":1,"status":"ok"} x)", WS_SUCCESS},
      {R"({"status":"OK"})", WS_ERROR_BAD_RESPONSE},
  };
  for (const auto& [answer, code] : rows) {
    peer.SetAnswer("/monitor/put", Reply(answer));
    EXPECT_EQ(Report(), code) << answer;
  }
  // The report names the address without its query.
  EXPECT_EQ(service.GetLastExchange().address, peer.Url("/monitor/put"));
}

// The address from its parts; a refused address keeps the old one.
TEST_F(RequestsTest, MonitorAddressFromParts) {
  const int port = peer.port();
  // The parts, the setter's code, the path the report reaches on the peer
  // ("": none) and the report's code.
  const std::tuple<std::string, int, std::string, uint32_t, std::string, uint32_t> rows[] = {
      {"HTTP://", port, "other", WS_ERROR_FAILED, "/monitor/put", WS_SUCCESS},
      // Accepted: the report now goes to a port where nothing listens.
      {"https://", testing::ClosedLoopbackPort(), "monitor/put", WS_SUCCESS, "",
       WS_ERROR_CONNECT_FAILED},
      {"http://", port, "/monitor/put", WS_SUCCESS, "//monitor/put", WS_ERROR_SERVER_ERROR},
      {"http://", port, "monitor/put", WS_SUCCESS, "/monitor/put", WS_SUCCESS},
  };
  for (const auto& [scheme, to_port, path, set_code, reached, report_code] : rows) {
    const size_t sent = peer.Requests().size();
    EXPECT_EQ(service.SetUriRequestLauncherMonitorPut(scheme, "127.0.0.1", to_port, path), set_code)
        << scheme << path;
    EXPECT_EQ(Report(), report_code) << scheme << path;
    const auto requests = peer.Requests();
    EXPECT_EQ(requests.size() == sent ? "" : requests.back().path, reached) << scheme << path;
  }
}

TEST_F(RequestsTest, DeviceIdRegistrationAnswers) {
  const char kPath[] = "/game/razever/app/APIEX/SorvaneClient/SendDeviceId";
  // The answer, its HTTP status, the code, and the status stored (-7: none).
  const std::tuple<std::string, int, uint32_t, int> rows[] = {
      {R"({"status":0,"message":""})", 200, WS_SUCCESS, -7},
      {R"({"status":2,"message":"x"})", 200, WS_ERROR_SERVER_RESULT_2_5_6_7, 2},
      {R"({"status":"0","message":""})", 200, WS_ERROR_SERVER_ERROR, INT32_MIN},
      {R"({"status":-2,"message":""})", 200, WS_ERROR_SERVER_ERROR, -2},
      {R"({"message":"x"})", 200, WS_ERROR_BAD_RESPONSE, -7},
      {R"({"status":2})", 200, WS_ERROR_BAD_RESPONSE, -7},
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

const int kFill = 0x11111111;

// A successful answer with every connection member, then more members.
std::string GameAnswer(const std::string& more) {
  return R"({"status":"ok","gameid":"g","ipv4":"1.2.3.4","ipv6":"","key1":"k1","key2":"k2",)"
         R"("control_port":1,"video_port":2,"audio_port":3,"input_port":4)" +
         more + "}";
}
std::string Config(const std::string& audio, const std::string& video) {
  return R"(,"config":{"version":1,"audio":[)" + audio + R"(],"video":[)" + video + "]}";
}
std::string A(int level, int bitrate) {
  return R"({"level":)" + std::to_string(level) + R"(,"bitrate":)" + std::to_string(bitrate) + "}";
}
std::string V(int level, int fps, int resolution, int bitrate) {
  return R"({"level":)" + std::to_string(level) + R"(,"fps":)" + std::to_string(fps) +
         R"(,"resolutionRatio":)" + std::to_string(resolution) + R"(,"bitrateRatio":)" +
         std::to_string(bitrate) + "}";
}

struct Outputs {
  std::string ipv4 = "old", ipv6 = "old", key1 = "old", key2 = "old";
  int ports[4] = {-7, -7, -7, -7};
  WebService::QualityParams quality;
  Outputs() { std::memset(&quality, 0x11, sizeof quality); }  // every field kFill

  ErrorCode Parse(const std::string& answer) {
    return CodeOf(ParseGameserviceResponse(answer, ipv4, ipv6, ports[0], ports[1], ports[2],
                                           ports[3], key1, key2, quality));
  }
  // "written" for the answer's usual connection outputs, else the outputs
  // if changed; then the quality fields that changed: "written version=1 ".
  std::string Changed() const {
    std::string changed = ipv4 + "|" + ipv6 + "|" + key1 + "|" + key2;
    for (int port : ports) changed += "|" + std::to_string(port);
    changed = changed == "old|old|old|old|-7|-7|-7|-7" ? ""
              : changed == "1.2.3.4||k1|k2|1|2|3|4"    ? "written "
                                                       : changed + " ";
    auto add = [&](const std::string& name, int value) {
      if (value != kFill) changed += name + "=" + std::to_string(value) + " ";
    };
    add("version", quality.version);
    add("audio_levels", quality.audio_level_count);
    add("video_levels", quality.video_level_count);
    for (int i = 0; i < 8; ++i) {
      const std::string n = std::to_string(i);
      add("audio" + n, quality.audio_bitrate[i]);
      add("fps" + n, quality.video[i].fps);
      add("resolution" + n, quality.video[i].resolution_ratio);
      add("bitrate" + n, quality.video[i].bitrate_ratio);
    }
    return changed;
  }
};

// The game service answer, parsed directly: the connection outputs are
// written exactly when the quality test passed;
// a value out of range is stored before it is refused.
TEST(GameserviceTest, ConnectionMembersAndQualityConfiguration) {
  const std::string w1 = "written version=1 audio_levels=";
  // The most levels, 0 to 7, as sent and as stored; and levels 1 to 8.
  std::string audio, video, stored, shifted;
  for (int i = 0; i < 8; ++i) {
    const std::string n = std::to_string(i), sep = i == 0 ? "" : ",";
    audio += sep + A(i, 100 + i);
    shifted += sep + A(i + 1, 1);
    video += sep + V(i, 10 + i, 20 + i, 30 + i);
    stored += "audio" + n + "=" + std::to_string(100 + i) + " fps" + n + "=" +
              std::to_string(10 + i) + " resolution" + n + "=" + std::to_string(20 + i) +
              " bitrate" + n + "=" + std::to_string(30 + i) + " ";
  }
  const std::pair<std::string, std::string> rows[] = {
      {"", "0 written "},
      // A later member replaces an earlier one of the same name.
      {R"(,"control_port":8081.7)", "0 1.2.3.4||k1|k2|8081|2|3|4 "},
      {R"(,"control_port":2147483648)", "0 1.2.3.4||k1|k2|-2147483648|2|3|4 "},
      {R"(,"control_port":-2147483649)", "0 1.2.3.4||k1|k2|-2147483648|2|3|4 "},
      {R"(,"control_port":"8081")", "AC40C807 "},
      {R"(,"gameid":1)", "AC40C807 "},
      {R"(,"config":{"version":0,"audio":"x"})", "0 written version=0 "},
      {R"(,"config":{"version":2})", "AC40C807 "},
      {R"(,"config":[])", "AC40C807 "},
      {R"(,"config":{"version":1.7,"audio":[],"video":[]})", "0 " + w1 + "0 video_levels=0 "},
      {R"(,"config":{"version":1,"video":[]})", "AC40C807 "},
      {Config(audio, video), "0 " + w1 + "8 video_levels=8 " + stored},
      {Config(audio + "," + A(8, 1), ""), "AC40C807 "},  // a ninth level
      {Config(shifted, ""), "AC40C807 "},
      {Config(A(0, 1) + "," + A(0, 1), ""), "AC40C807 "},
      {Config(A(-1, 1), ""), "AC40C807 "},
      {Config("", R"({"level":0,"resolutionRatio":1,"bitrateRatio":1})"), "AC40C807 "},
      // Levels out of order are stored by level; the limits are inclusive.
      {Config(A(1, 1024) + "," + A(0, 1), V(0, 60, 100, 100)),
       "0 " + w1 + "2 video_levels=1 audio0=1 fps0=60 resolution0=100 bitrate0=100 audio1=1024 "},
      // Out of range values: stored up to and including the offending entry.
      {Config(A(0, 5) + "," + A(1, 0) + "," + A(2, 6), V(0, 1, 1, 1)),
       "AC40C807 " + w1 + "3 audio0=5 audio1=0 "},
      {Config(A(1, 1025) + "," + A(0, 5), ""), "AC40C807 " + w1 + "2 audio1=1025 "},
      {Config(A(0, 5), V(0, 1, 2, 3) + "," + V(1, 61, 100, 100)),
       "AC40C807 " + w1 +
           "1 video_levels=2 audio0=5 fps0=1 resolution0=2 bitrate0=3 fps1=61 resolution1=100 "
           "bitrate1=100 "},
      {Config("", V(0, 1, 0, 1)),
       "AC40C807 " + w1 + "0 video_levels=1 fps0=1 resolution0=0 bitrate0=1 "},
  };
  for (const auto& [members, expected] : rows) {
    Outputs out;
    char code[16];
    std::snprintf(code, sizeof code, "%X ", out.Parse(GameAnswer(members)).GetValue());
    EXPECT_EQ(code + out.Changed(), expected) << members;
  }
}

}  // namespace
}  // namespace vanta
