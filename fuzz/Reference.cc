// The answer checks and request body builders as they were when they read
// and built whole picojson trees, kept as the reference that the
// differential fuzz targets hold the shipped, tree-free ones to. Rules and
// their order are unchanged.
#include "fuzz/Reference.h"

#include <picojson.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <type_traits>

namespace vanta {
namespace reference {

namespace {

// picojson's own parse context bounds arrays only (objects do not count
// toward its depth), so this one counts both. Otherwise it builds values
// exactly as picojson's does, a repeated key keeping its last value.
class BoundedContext {
 public:
  BoundedContext(picojson::value* out, size_t depth_left) : out_(out), depth_left_(depth_left) {}
  BoundedContext(const BoundedContext&) = delete;
  BoundedContext& operator=(const BoundedContext&) = delete;

  bool set_null() {
    *out_ = picojson::value();
    return true;
  }
  bool set_bool(bool b) {
    *out_ = picojson::value(b);
    return true;
  }
  // Throws std::overflow_error for a number that overflowed a double.
  bool set_number(double f) {
    *out_ = picojson::value(f);
    return true;
  }
  template <typename Iter>
  bool parse_string(picojson::input<Iter>& in) {
    *out_ = picojson::value(picojson::string_type, false);
    return picojson::_parse_string(out_->get<std::string>(), in);
  }
  bool parse_array_start() { return Enter(picojson::array_type); }
  template <typename Iter>
  bool parse_array_item(picojson::input<Iter>& in, size_t) {
    picojson::array& a = out_->get<picojson::array>();
    a.push_back(picojson::value());
    BoundedContext child(&a.back(), depth_left_);
    return picojson::_parse(child, in);
  }
  bool parse_array_stop(size_t) { return true; }
  bool parse_object_start() { return Enter(picojson::object_type); }
  template <typename Iter>
  bool parse_object_item(picojson::input<Iter>& in, const std::string& key) {
    picojson::object& o = out_->get<picojson::object>();
    BoundedContext child(&o[key], depth_left_);
    return picojson::_parse(child, in);
  }
  bool parse_object_stop() { return true; }

 private:
  // Each context holds one value, so the depth its children get is fixed
  // here once; nothing has to be given back on the way out.
  bool Enter(int type) {
    if (depth_left_ == 0) return false;
    --depth_left_;
    *out_ = picojson::value(type, false);
    return true;
  }

  picojson::value* out_;
  size_t depth_left_;
};

// Parses text as one JSON value into a whole tree, under the same nesting
// bound as the shipped checks; false for a syntax error, nesting deeper than
// kMaxDepth or a number that overflows a double.
bool Parse(const std::string& text, picojson::value& out) {
  BoundedContext context(&out, json::kMaxDepth);
  picojson::input<std::string::const_iterator> in(text.begin(), text.end());
  try {
    // No error text is asked for: a syntax error is reported by verdict only.
    return picojson::_parse(context, in);
  } catch (const std::overflow_error&) {
    return false;
  }
}

bool ParseObject(const std::string& text, picojson::value& out) {
  return Parse(text, out) && out.is<picojson::object>();
}

bool Has(const picojson::object& object, const std::string& key) {
  return object.find(key) != object.end();
}

// The member key of object when it is present and of kind T; nullptr
// otherwise.
template <typename T>
const T* Find(const picojson::object& object, const std::string& key) {
  auto it = object.find(key);
  if (it == object.end() || !it->second.is<T>()) return nullptr;
  return &it->second.get<T>();
}

picojson::value Number(int value) { return picojson::value(static_cast<double>(value)); }

std::string Write(const picojson::value& value) { return value.serialize(false); }

Verdict CheckEnvelope(const std::string& text, picojson::value& out) {
  if (!ParseObject(text, out)) return Verdict::Malformed();
  const picojson::object& answer = out.get<picojson::object>();
  const std::string* status = Find<std::string>(answer, "status");
  if (status == nullptr) return Verdict::Malformed();
  if (*status == "ok") return Verdict::Accepted();
  // Presence of both members is tested before their kinds; every miss has
  // the same verdict, so one combined test says the same.
  const double* result = Find<double>(answer, "result");
  const std::string* message = Find<std::string>(answer, "message");
  if (result == nullptr || message == nullptr) return Verdict::Malformed();
  return Verdict::Refused(json::ToInt32(*result), *message);
}

// Levels per medium: WebService::MAX_QUALITY_SETTING_LEVEL, the room that
// QualityParams has for each.
constexpr size_t kLevels = std::extent<decltype(WebService::QualityParams::audio_bitrate)>::value;
static_assert(kLevels == std::extent<decltype(WebService::QualityParams::video)>::value,
              "audio and video have the same number of levels");

// A level array of a version 1 configuration: at most kLevels entries, each
// an object with a number "level" and the number members named in values,
// and the levels of n entries exactly 0 to n-1, in any order.
bool LevelsValid(const picojson::array& entries, std::initializer_list<const char*> values) {
  if (entries.size() > kLevels) return false;
  bool seen[kLevels] = {};
  for (const picojson::value& value : entries) {
    if (!value.is<picojson::object>()) return false;
    const picojson::object& entry = value.get<picojson::object>();
    const double* level = Find<double>(entry, "level");
    if (level == nullptr) return false;
    for (const char* key : values) {
      if (Find<double>(entry, key) == nullptr) return false;
    }
    int32_t index = json::ToInt32(*level);
    if (index < 0 || static_cast<size_t>(index) >= entries.size()) return false;
    seen[index] = true;
  }
  for (size_t index = 0; index < entries.size(); ++index) {
    if (!seen[index]) return false;
  }
  return true;
}

// The quality configuration test, which writes nothing.
bool ConfigValid(const picojson::object& answer) {
  if (!Has(answer, "config")) return true;
  const picojson::object* config = Find<picojson::object>(answer, "config");
  if (config == nullptr) return false;
  if (!Has(*config, "version")) return true;
  const double* version = Find<double>(*config, "version");
  if (version == nullptr) return false;
  int32_t number = json::ToInt32(*version);
  if (number == 0) return true;
  if (number != 1) return false;
  const picojson::array* audio = Find<picojson::array>(*config, "audio");
  const picojson::array* video = Find<picojson::array>(*config, "video");
  return audio != nullptr && video != nullptr && LevelsValid(*audio, {"bitrate"}) &&
         LevelsValid(*video, {"bitrateRatio", "fps", "resolutionRatio"});
}

// A number member of an object that has passed ConfigValid.
int32_t IntOf(const picojson::value& object, const char* key) {
  return json::ToInt32(object.get(key).get<double>());
}

// The text up to, not including, its first NUL byte.
std::string UpToNul(const std::string& text) { return text.substr(0, text.find('\0')); }

bool InRange(int32_t value, int32_t low, int32_t high) { return value >= low && value <= high; }

// Stores a configuration that has passed ConfigValid, testing each value's
// range after storing it; false at the first value out of range.
bool StoreConfig(const picojson::object& answer, WebService::QualityParams& quality) {
  auto found = answer.find("config");
  if (found == answer.end()) return true;
  const picojson::value& config = found->second;
  if (!config.contains("version")) {
    quality.version = 0;
    return true;
  }
  quality.version = IntOf(config, "version");
  if (quality.version != 1) return true;

  const picojson::array& audio = config.get("audio").get<picojson::array>();
  quality.audio_level_count = static_cast<int>(audio.size());
  for (const picojson::value& entry : audio) {
    int32_t bitrate = IntOf(entry, "bitrate");
    quality.audio_bitrate[IntOf(entry, "level")] = bitrate;
    if (!InRange(bitrate, 1, 1024)) return false;
  }
  const picojson::array& video = config.get("video").get<picojson::array>();
  quality.video_level_count = static_cast<int>(video.size());
  for (const picojson::value& entry : video) {
    WebService::QualityParams::Video& level = quality.video[IntOf(entry, "level")];
    level.fps = IntOf(entry, "fps");
    level.resolution_ratio = IntOf(entry, "resolutionRatio");
    level.bitrate_ratio = IntOf(entry, "bitrateRatio");
    if (!InRange(level.fps, 1, 60) || !InRange(level.resolution_ratio, 1, 100) ||
        !InRange(level.bitrate_ratio, 1, 100)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string TokenRequestBody(int client_version, const std::string& gameid, int try_count) {
  picojson::object request;
  request["action"] = picojson::value("request_token");
  request["client_version"] = Number(client_version);
  request["gameid"] = picojson::value(gameid);
  request["try_count"] = Number(try_count);
  return Write(picojson::value(request));
}

std::string AccesstokenRequestBody(int client_version, const std::string& token,
                                   const std::string& zuc_key_value, int try_count) {
  picojson::object request;
  request["action"] = picojson::value("request_accesstoken");
  request["client_version"] = Number(client_version);
  request["token"] = picojson::value(token);
  request["try_count"] = Number(try_count);
  request["zuc_key_value"] = picojson::value(zuc_key_value);
  return Write(picojson::value(request));
}

std::string GameserviceRequestBody(int client_version, const std::string& access_token,
                                   int video_profile, int audio_profile, int io_mouse, int io_touch,
                                   int io_keyboard, int io_sensor, int io_gamepad, int yuv_itu_r_bt,
                                   int try_count, const WebService::ClientEnvironmentInfo& env) {
  picojson::object env_object;
  for (const auto& entry : env.entries) {
    env_object[UpToNul(entry.first)] = picojson::value(UpToNul(entry.second));
  }
  picojson::object request;
  request["access_token"] = picojson::value(access_token);
  request["action"] = picojson::value("request_gameservice");
  request["audio_profile"] = Number(audio_profile);
  request["client_version"] = Number(client_version);
  request["env"] = picojson::value(env_object);
  request["io_gamepad"] = Number(io_gamepad);
  request["io_keyboard"] = Number(io_keyboard);
  request["io_mouse"] = Number(io_mouse);
  request["io_sensor"] = Number(io_sensor);
  request["io_touch"] = Number(io_touch);
  request["try_count"] = Number(try_count);
  request["video_profile"] = Number(video_profile);
  request["yuv_itu_r_bt"] = Number(yuv_itu_r_bt);
  return Write(picojson::value(request));
}

std::string SendDeviceIdRequestBody(const std::string& zu_key_value, const std::string& device_id,
                                    const std::string& request_type,
                                    const std::string& client_version) {
  picojson::object request;
  request["client_version"] = picojson::value(client_version);
  request["device_id"] = picojson::value(device_id);
  request["request_type"] = picojson::value(request_type);
  request["zu_key_value"] = picojson::value(zu_key_value);
  return Write(picojson::value(request));
}

Verdict ParseTokenResponse(const std::string& response, std::string& token,
                           std::string& zuc_key_value) {
  picojson::value root;
  Verdict verdict = CheckEnvelope(response, root);
  if (!verdict.accepted()) return verdict;
  const picojson::object& answer = root.get<picojson::object>();
  const std::string* new_token = Find<std::string>(answer, "token");
  const std::string* new_key = Find<std::string>(answer, "zuc_key_value");
  if (new_token == nullptr || new_key == nullptr) return Verdict::Malformed();
  token = *new_token;
  zuc_key_value = *new_key;
  return verdict;
}

Verdict ParseAccesstokenResponse(const std::string& response, std::string& access_token) {
  picojson::value root;
  Verdict verdict = CheckEnvelope(response, root);
  if (!verdict.accepted()) return verdict;
  const std::string* value = Find<std::string>(root.get<picojson::object>(), "access_token");
  if (value == nullptr) return Verdict::Malformed();
  access_token = *value;
  return verdict;
}

Verdict ParseGameserviceResponse(const std::string& response, std::string& ipv4, std::string& ipv6,
                                 int& control_port, int& video_port, int& audio_port,
                                 int& input_port, std::string& key1, std::string& key2,
                                 WebService::QualityParams& quality) {
  picojson::value root;
  Verdict verdict = CheckEnvelope(response, root);
  if (!verdict.accepted()) return verdict;
  const picojson::object& answer = root.get<picojson::object>();
  // "gameid" is required but its value is not used.
  const std::string* gameid = Find<std::string>(answer, "gameid");
  const std::string* new_ipv4 = Find<std::string>(answer, "ipv4");
  const std::string* new_ipv6 = Find<std::string>(answer, "ipv6");
  const double* new_control_port = Find<double>(answer, "control_port");
  const double* new_video_port = Find<double>(answer, "video_port");
  const double* new_audio_port = Find<double>(answer, "audio_port");
  const double* new_input_port = Find<double>(answer, "input_port");
  const std::string* new_key1 = Find<std::string>(answer, "key1");
  const std::string* new_key2 = Find<std::string>(answer, "key2");
  if (gameid == nullptr || new_ipv4 == nullptr || new_ipv6 == nullptr ||
      new_control_port == nullptr || new_video_port == nullptr || new_audio_port == nullptr ||
      new_input_port == nullptr || new_key1 == nullptr || new_key2 == nullptr ||
      !ConfigValid(answer)) {
    return Verdict::Malformed();
  }
  ipv4 = *new_ipv4;
  ipv6 = *new_ipv6;
  control_port = json::ToInt32(*new_control_port);
  video_port = json::ToInt32(*new_video_port);
  audio_port = json::ToInt32(*new_audio_port);
  input_port = json::ToInt32(*new_input_port);
  key1 = *new_key1;
  key2 = *new_key2;
  return StoreConfig(answer, quality) ? verdict : Verdict::Malformed();
}

Verdict ParseLauncherMonitorResponse(const std::string& response) {
  picojson::value root;
  if (!ParseObject(response, root)) return Verdict::Malformed();
  const std::string* status = Find<std::string>(root.get<picojson::object>(), "status");
  return status != nullptr && *status == "ok" ? Verdict::Accepted() : Verdict::Malformed();
}

Verdict ParseSendDeviceIdResponse(const std::string& response, int& status) {
  picojson::value root;
  if (!ParseObject(response, root)) return Verdict::Malformed();
  const picojson::object& answer = root.get<picojson::object>();
  if (!Has(answer, "status") || !Has(answer, "message")) return Verdict::Malformed();
  const double* number = Find<double>(answer, "status");
  int32_t value = number != nullptr ? json::ToInt32(*number) : INT32_MIN;
  if (value == 0) return Verdict::Accepted();
  status = value;
  return Verdict::Refused(value);
}

}  // namespace reference
}  // namespace vanta
