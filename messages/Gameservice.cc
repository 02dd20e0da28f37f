#include "messages/Gameservice.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <vector>

#include "messages/SelectiveParse.h"

namespace vanta {

namespace {

// Levels per medium: WebService::MAX_QUALITY_SETTING_LEVEL, the room that
// QualityParams has for each.
constexpr size_t kLevels = std::extent<decltype(QualityParams::audio_bitrate)>::value;
static_assert(kLevels == std::extent<decltype(QualityParams::video)>::value,
              "audio and video have the same number of levels");

// The text up to, not including, its first NUL byte.
std::string_view UpToNul(const std::string& text) {
  return std::string_view(text).substr(0, text.find('\0'));
}

// The members of "env": one per entry, key and value cut at their first
// NUL, in ascending key order. Of entries whose cut keys are equal, the one
// last in iteration order is written, as assigning each to one object in
// turn would keep.
void WriteEnv(const ClientEnvironmentInfo& env, json::ObjectWriter& body) {
  struct Member {
    std::string_view key;
    std::string_view value;
    size_t order;
  };
  // Environments are small: their members are sorted on the stack.
  constexpr size_t kOnStack = 16;
  Member on_stack[kOnStack];
  std::vector<Member> on_heap;
  Member* members = on_stack;
  if (env.entries.size() > kOnStack) {
    on_heap.resize(env.entries.size());
    members = on_heap.data();
  }
  size_t count = 0;
  for (const auto& entry : env.entries) {
    members[count] = Member{UpToNul(entry.first), UpToNul(entry.second), count};
    ++count;
  }
  std::sort(members, members + count, [](const Member& a, const Member& b) {
    return a.key != b.key ? a.key < b.key : a.order < b.order;
  });
  for (size_t i = 0; i < count; ++i) {
    if (i + 1 < count && members[i + 1].key == members[i].key) continue;
    body.String(members[i].key, members[i].value);
  }
}

// An audio entry of a version 1 configuration: every member kept is a
// required number.
struct AudioEntry : json::ObjectSlot {
  AudioEntry() {
    Keep("level", level);
    Keep("bitrate", bitrate);
  }
  json::Slot level;
  json::Slot bitrate;
};

// A video entry of a version 1 configuration: every member kept is a
// required number.
struct VideoEntry : json::ObjectSlot {
  VideoEntry() {
    Keep("level", level);
    Keep("bitrateRatio", bitrate_ratio);
    Keep("fps", fps);
    Keep("resolutionRatio", resolution_ratio);
  }
  json::Slot level;
  json::Slot bitrate_ratio;
  json::Slot fps;
  json::Slot resolution_ratio;
};

// The quality configuration, "config". An array longer than kLevels is
// refused, so keeping kLevels entries keeps every entry that is read.
struct Config : json::ObjectSlot {
  Config() {
    Keep("version", version);
    Keep("audio", audio);
    Keep("video", video);
  }
  json::Slot version;
  json::ArraySlot<AudioEntry, kLevels> audio;
  json::ArraySlot<VideoEntry, kLevels> video;
};

struct GameserviceAnswer : json::Envelope {
  GameserviceAnswer() {
    Keep("gameid", gameid);
    Keep("ipv4", ipv4);
    Keep("ipv6", ipv6);
    Keep("control_port", control_port);
    Keep("video_port", video_port);
    Keep("audio_port", audio_port);
    Keep("input_port", input_port);
    Keep("key1", key1);
    Keep("key2", key2);
    Keep("config", config);
  }
  json::Slot gameid;  // required, but its value is not used
  json::Slot ipv4;
  json::Slot ipv6;
  json::Slot control_port;
  json::Slot video_port;
  json::Slot audio_port;
  json::Slot input_port;
  json::Slot key1;
  json::Slot key2;
  Config config;
};

// A level array of a version 1 configuration: at most kLevels entries, each
// an object whose level and values are numbers, and the levels of n entries
// exactly 0 to n-1, in any order.
template <typename Entry>
bool LevelsValid(const json::ArraySlot<Entry, kLevels>& entries) {
  if (entries.size() > kLevels) return false;
  bool seen[kLevels] = {};
  for (const Entry& entry : entries) {
    if (!entry.is_object() || !entry.AllMembersAre(json::Kind::kNumber)) return false;
    int32_t index = json::ToInt32(entry.level.number());
    if (index < 0 || static_cast<size_t>(index) >= entries.size()) return false;
    seen[index] = true;
  }
  for (size_t index = 0; index < entries.size(); ++index) {
    if (!seen[index]) return false;
  }
  return true;
}

// The quality configuration test, which writes nothing.
bool ConfigValid(const Config& config) {
  if (!config.present()) return true;
  if (!config.is_object()) return false;
  if (!config.version.present()) return true;
  if (!config.version.is_number()) return false;
  int32_t number = json::ToInt32(config.version.number());
  if (number == 0) return true;
  if (number != 1) return false;
  return config.audio.is_array() && config.video.is_array() && LevelsValid(config.audio) &&
         LevelsValid(config.video);
}

int32_t IntOf(const json::Slot& number) { return json::ToInt32(number.number()); }

bool InRange(int32_t value, int32_t low, int32_t high) { return value >= low && value <= high; }

// Stores a configuration that has passed ConfigValid, testing each value's
// range after storing it; false at the first value out of range.
bool StoreConfig(const Config& config, QualityParams& quality) {
  if (!config.present()) return true;
  if (!config.version.present()) {
    quality.version = 0;
    return true;
  }
  quality.version = IntOf(config.version);
  if (quality.version != 1) return true;

  quality.audio_level_count = static_cast<int>(config.audio.size());
  for (const AudioEntry& entry : config.audio) {
    int32_t bitrate = IntOf(entry.bitrate);
    quality.audio_bitrate[IntOf(entry.level)] = bitrate;
    if (!InRange(bitrate, 1, 1024)) return false;
  }
  quality.video_level_count = static_cast<int>(config.video.size());
  for (const VideoEntry& entry : config.video) {
    QualityParams::Video& level = quality.video[IntOf(entry.level)];
    level.fps = IntOf(entry.fps);
    level.resolution_ratio = IntOf(entry.resolution_ratio);
    level.bitrate_ratio = IntOf(entry.bitrate_ratio);
    if (!InRange(level.fps, 1, 60) || !InRange(level.resolution_ratio, 1, 100) ||
        !InRange(level.bitrate_ratio, 1, 100)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string GameserviceRequestBody(int client_version, const std::string& access_token,
                                   int video_profile, int audio_profile, int io_mouse, int io_touch,
                                   int io_keyboard, int io_sensor, int io_gamepad, int yuv_itu_r_bt,
                                   int try_count, const ClientEnvironmentInfo& env) {
  size_t env_size = 0;
  for (const auto& entry : env.entries) env_size += entry.first.size() + entry.second.size() + 6;
  json::ObjectWriter body(320 + access_token.size() + env_size);
  body.String("access_token", access_token);
  body.String("action", "request_gameservice");
  body.Number("audio_profile", audio_profile);
  body.Number("client_version", client_version);
  body.OpenObject("env");
  WriteEnv(env, body);
  body.CloseObject();
  body.Number("io_gamepad", io_gamepad);
  body.Number("io_keyboard", io_keyboard);
  body.Number("io_mouse", io_mouse);
  body.Number("io_sensor", io_sensor);
  body.Number("io_touch", io_touch);
  body.Number("try_count", try_count);
  body.Number("video_profile", video_profile);
  body.Number("yuv_itu_r_bt", yuv_itu_r_bt);
  return body.Finish();
}

Verdict ParseGameserviceResponse(const std::string& response, std::string& ipv4, std::string& ipv6,
                                 int& control_port, int& video_port, int& audio_port,
                                 int& input_port, std::string& key1, std::string& key2,
                                 QualityParams& quality) {
  GameserviceAnswer answer;
  Verdict verdict = json::CheckEnvelope(response, answer);
  if (!verdict.accepted()) return verdict;
  if (!answer.gameid.is_string() || !answer.ipv4.is_string() || !answer.ipv6.is_string() ||
      !answer.control_port.is_number() || !answer.video_port.is_number() ||
      !answer.audio_port.is_number() || !answer.input_port.is_number() ||
      !answer.key1.is_string() || !answer.key2.is_string() || !ConfigValid(answer.config)) {
    return Verdict::Malformed();
  }
  answer.ipv4.CopyTo(ipv4);
  answer.ipv6.CopyTo(ipv6);
  control_port = IntOf(answer.control_port);
  video_port = IntOf(answer.video_port);
  audio_port = IntOf(answer.audio_port);
  input_port = IntOf(answer.input_port);
  answer.key1.CopyTo(key1);
  answer.key2.CopyTo(key2);
  return StoreConfig(answer.config, quality) ? verdict : Verdict::Malformed();
}

}  // namespace vanta
