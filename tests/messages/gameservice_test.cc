// The game service answer: connection members and the quality
// configuration, through the response stage directly.
#include "messages/Gameservice.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "service/Codes.h"

namespace vanta {
namespace {

const int kFill = 0x11111111;

// A successful answer with every connection member, then more members.
std::string Answer(const std::string& more) {
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

// The connection outputs are written exactly when the quality test passed;
// a value out of range is stored before it is refused.
TEST(GameserviceTest, ConnectionMembersAndQualityConfiguration) {
  const std::string w1 = "written version=1 audio_levels=";
  std::string nine = A(0, 1);
  for (int i = 1; i < 9; ++i) nine += "," + A(i, 1);  // levels 0 to 8
  const std::pair<std::string, std::string> rows[] = {
      {"", "0 written "},
      // A later member replaces an earlier one of the same name.
      {R"(,"control_port":8081.7)", "0 1.2.3.4||k1|k2|8081|2|3|4 "},
      {R"(,"control_port":2147483648)", "0 1.2.3.4||k1|k2|-2147483648|2|3|4 "},
      {R"(,"control_port":"8081")", "AC40C807 "},
      {R"(,"gameid":1)", "AC40C807 "},
      {R"(,"config":{"version":0,"audio":"x"})", "0 written version=0 "},
      {R"(,"config":{"version":2})", "AC40C807 "},
      {R"(,"config":[])", "AC40C807 "},
      {R"(,"config":{"version":1.7,"audio":[],"video":[]})", "0 " + w1 + "0 video_levels=0 "},
      {R"(,"config":{"version":1,"video":[]})", "AC40C807 "},
      {Config(nine, ""), "AC40C807 "},
      {Config(A(0, 1) + "," + A(0, 1), ""), "AC40C807 "},
      {Config(A(0, 1) + "," + A(2, 1), ""), "AC40C807 "},
      {Config(A(-1, 1), ""), "AC40C807 "},
      {Config(A(8, 1), ""), "AC40C807 "},
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
      {Config("", V(0, 1, 1, 101)),
       "AC40C807 " + w1 + "0 video_levels=1 fps0=1 resolution0=1 bitrate0=101 "},
  };
  for (const auto& [members, expected] : rows) {
    Outputs out;
    char code[16];
    std::snprintf(code, sizeof code, "%X ", out.Parse(Answer(members)).GetValue());
    EXPECT_EQ(code + out.Changed(), expected) << members;
  }
}

}  // namespace
}  // namespace vanta
