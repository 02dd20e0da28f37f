// The game service answer: connection members and the quality
// configuration, through the response stage directly.
#include "messages/Gameservice.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>

namespace vanta {
namespace {

using Quality = WebService::QualityParams;

std::string Answer(const std::string& ports, const std::string& config) {
  return R"({"status":"ok","gameid":"g","ipv4":"1.2.3.4","ipv6":"","key1":"k1","key2":"k2",)" +
         ports + config + "}";
}
const char kPorts[] = R"("control_port":1,"video_port":2,"audio_port":3,"input_port":4)";

std::string A(int level, int bitrate) {
  return R"({"level":)" + std::to_string(level) + R"(,"bitrate":)" + std::to_string(bitrate) + "}";
}
std::string V(int level, int fps, int resolution, int bitrate) {
  return R"({"level":)" + std::to_string(level) + R"(,"fps":)" + std::to_string(fps) +
         R"(,"resolutionRatio":)" + std::to_string(resolution) + R"(,"bitrateRatio":)" +
         std::to_string(bitrate) + "}";
}
std::string Config(const std::string& audio, const std::string& video) {
  return R"(,"config":{"version":1,"audio":[)" + audio + R"(],"video":[)" + video + "]}";
}
std::string Times(const std::string& entry, int count) {
  std::string list = entry;
  for (int i = 1; i < count; ++i) list += "," + entry;
  return list;
}

struct Outputs {
  std::string ipv4 = "old", ipv6 = "old", key1 = "old", key2 = "old";
  int ports[4] = {-7, -7, -7, -7};
  Quality quality;
  Outputs() { std::memset(&quality, 0x11, sizeof quality); }  // every field 0x11111111

  ErrorCode Parse(const std::string& answer) {
    return ParseGameserviceResponse(answer, ipv4, ipv6, ports[0], ports[1], ports[2], ports[3],
                                    key1, key2, quality);
  }
};

TEST(GameserviceTest, QualityConfiguration) {
  struct Row {
    std::string config;
    uint32_t code;
    std::function<void(Quality&)> stored;  // what the call must change; null: nothing
  };
  const auto v1_empty = [](Quality& q) {
    q.version = 1, q.audio_level_count = q.video_level_count = 0;
  };
  const Row rows[] = {
      {"", WS_SUCCESS, nullptr},
      {R"(,"config":{})", WS_SUCCESS, [](Quality& q) { q.version = 0; }},
      {R"(,"config":{"version":0,"audio":"x"})", WS_SUCCESS, [](Quality& q) { q.version = 0; }},
      {R"(,"config":{"version":2})", WS_ERROR_BAD_RESPONSE, nullptr},
      {R"(,"config":{"version":-1})", WS_ERROR_BAD_RESPONSE, nullptr},
      {R"(,"config":{"version":"1","audio":[],"video":[]})", WS_ERROR_BAD_RESPONSE, nullptr},
      {R"(,"config":[])", WS_ERROR_BAD_RESPONSE, nullptr},
      {R"(,"config":null)", WS_ERROR_BAD_RESPONSE, nullptr},
      {R"(,"config":{"version":1.7,"audio":[],"video":[]})", WS_SUCCESS, v1_empty},
      {R"(,"config":{"version":1,"video":[]})", WS_ERROR_BAD_RESPONSE, nullptr},
      {R"(,"config":{"version":1,"audio":{},"video":[]})", WS_ERROR_BAD_RESPONSE, nullptr},
      {Config(Times(A(0, 1), 9), ""), WS_ERROR_BAD_RESPONSE, nullptr},
      {Config("", Times(V(0, 1, 1, 1), 9)), WS_ERROR_BAD_RESPONSE, nullptr},
      {Config(A(0, 1) + "," + A(0, 1), ""), WS_ERROR_BAD_RESPONSE, nullptr},
      {Config(A(0, 1) + "," + A(2, 1), ""), WS_ERROR_BAD_RESPONSE, nullptr},
      {Config(A(1, 1), ""), WS_ERROR_BAD_RESPONSE, nullptr},
      {Config(A(-1, 1), ""), WS_ERROR_BAD_RESPONSE, nullptr},
      {Config(A(8, 1), ""), WS_ERROR_BAD_RESPONSE, nullptr},
      {Config("1", ""), WS_ERROR_BAD_RESPONSE, nullptr},
      {Config(R"({"level":"0","bitrate":1})", ""), WS_ERROR_BAD_RESPONSE, nullptr},
      {Config("", V(1, 1, 1, 1) + "," + V(0, 1, 1, 1) + "," + V(1, 1, 1, 1)), WS_ERROR_BAD_RESPONSE,
       nullptr},
      {Config("", R"({"level":0,"resolutionRatio":1,"bitrateRatio":1})"), WS_ERROR_BAD_RESPONSE,
       nullptr},
      {Config("", R"({"level":0,"fps":1,"resolutionRatio":1,"bitrate":1})"), WS_ERROR_BAD_RESPONSE,
       nullptr},
      // Levels out of order are stored by level; the limits are inclusive.
      {Config(A(1, 1024) + "," + A(0, 1), V(0, 60, 100, 100)), WS_SUCCESS,
       [](Quality& q) {
         q.version = 1, q.audio_level_count = 2, q.video_level_count = 1;
         q.audio_bitrate[0] = 1, q.audio_bitrate[1] = 1024, q.video[0] = {60, 100, 100};
       }},
      // Out of range values: stored up to and including the offending entry.
      {Config(A(0, 5) + "," + A(1, 0) + "," + A(2, 6), V(0, 1, 1, 1)), WS_ERROR_BAD_RESPONSE,
       [](Quality& q) {
         q.version = 1, q.audio_level_count = 3, q.audio_bitrate[0] = 5, q.audio_bitrate[1] = 0;
       }},
      {Config(A(1, 1025) + "," + A(0, 5), ""), WS_ERROR_BAD_RESPONSE,
       [](Quality& q) { q.version = 1, q.audio_level_count = 2, q.audio_bitrate[1] = 1025; }},
      {Config(A(0, 5), V(0, 1, 2, 3) + "," + V(1, 61, 100, 100)), WS_ERROR_BAD_RESPONSE,
       [](Quality& q) {
         q.version = 1, q.audio_level_count = 1, q.video_level_count = 2, q.audio_bitrate[0] = 5;
         q.video[0] = {1, 2, 3}, q.video[1] = {61, 100, 100};
       }},
      {Config("", V(0, 1, 0, 1)), WS_ERROR_BAD_RESPONSE,
       [](Quality& q) {
         q.version = 1, q.audio_level_count = 0, q.video_level_count = 1, q.video[0] = {1, 0, 1};
       }},
      {Config("", V(0, 1, 1, 101)), WS_ERROR_BAD_RESPONSE,
       [](Quality& q) {
         q.version = 1, q.audio_level_count = 0, q.video_level_count = 1, q.video[0] = {1, 1, 101};
       }},
  };
  for (const Row& row : rows) {
    Outputs out;
    Quality expected = out.quality;
    if (row.stored) row.stored(expected);
    EXPECT_EQ(out.Parse(Answer(kPorts, row.config)).GetValue(), row.code) << row.config;
    EXPECT_EQ(std::memcmp(&out.quality, &expected, sizeof expected), 0) << row.config;
    // The connection outputs are written exactly when the quality test passed.
    bool written = row.code == WS_SUCCESS || row.stored != nullptr;
    EXPECT_EQ(out.ipv4, written ? "1.2.3.4" : "old") << row.config;
    EXPECT_EQ(out.ports[3], written ? 4 : -7) << row.config;
  }
}

TEST(GameserviceTest, ConnectionMembers) {
  const std::string rest = R"("video_port":2,"audio_port":3,"input_port":4)";
  struct Row {
    std::string answer;
    uint32_t code;
    int control_port;  // -7: untouched
  };
  const Row rows[] = {
      {Answer(R"("control_port":8081.7,)" + rest, ""), WS_SUCCESS, 8081},
      {Answer(R"("control_port":-5,)" + rest, ""), WS_SUCCESS, -5},
      {Answer(R"("control_port":2147483648,)" + rest, ""), WS_SUCCESS, INT_MIN},
      {Answer(R"("control_port":"8081",)" + rest, ""), WS_ERROR_BAD_RESPONSE, -7},
      {Answer(rest, ""), WS_ERROR_BAD_RESPONSE, -7},
      {R"({"status":"ok","ipv4":"a","ipv6":"b","key1":"c","key2":"d",)" + std::string(kPorts) + "}",
       WS_ERROR_BAD_RESPONSE, -7},
      {R"({"status":"ok","gameid":1,"ipv4":"a","ipv6":"b","key1":"c","key2":"d",)" +
           std::string(kPorts) + "}",
       WS_ERROR_BAD_RESPONSE, -7},
      {R"({"status":"ng","result":8,"message":"x"})", WS_ERROR_SERVER_RESULT_8, -7},
  };
  for (const Row& row : rows) {
    Outputs out;
    EXPECT_EQ(out.Parse(row.answer).GetValue(), row.code) << row.answer;
    EXPECT_EQ(out.ports[0], row.control_port) << row.answer;
    bool written = row.code == WS_SUCCESS;
    EXPECT_EQ(out.ipv4 + out.ipv6 + out.key1 + out.key2, written ? "1.2.3.4k1k2" : "oldoldoldold");
    EXPECT_EQ(out.ports[1] + out.ports[2] + out.ports[3], written ? 9 : -21) << row.answer;
  }
}

}  // namespace
}  // namespace vanta
