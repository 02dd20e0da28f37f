#include "dispatcher/Book.h"

#include <charconv>
#include <cmath>
#include <initializer_list>
#include <stdexcept>
#include <utility>

#include "core/Trace.h"

namespace vanta {
namespace dispatcher {
namespace {

// The dispatcher's JSON helpers: compact writing, ints as numbers.
picojson::value Number(int value) { return picojson::value(static_cast<double>(value)); }

std::string Write(const picojson::value& value) { return value.serialize(false); }

// picojson's parser bounds the nesting itself (100 levels), so a hostile
// body cannot run it out of stack.
bool ParseObject(const std::string& text, picojson::value& out) {
  try {
    return picojson::parse(out, text).empty() && out.is<picojson::object>();
  } catch (const std::overflow_error&) {  // a number beyond a double
    return false;
  }
}

// A decimal int that fills the whole text ("-" allowed, "+" and blanks not).
bool ParseQueryInt(const std::string& text, int* value) {
  const char* end = text.data() + text.size();
  const std::from_chars_result parsed = std::from_chars(text.data(), end, *value);
  return !text.empty() && parsed.ec == std::errc() && parsed.ptr == end;
}

const std::string* FindString(const picojson::object& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->second.is<std::string>() ? &it->second.get<std::string>()
                                                            : nullptr;
}

enum class Kind { kNumber, kString, kObject };

struct Member {
  const char* key;
  Kind kind;
};

bool IsOfKind(const picojson::value& value, Kind kind) {
  switch (kind) {
    case Kind::kNumber:
      return value.is<double>();
    case Kind::kString:
      return value.is<std::string>();
    case Kind::kObject:
      return value.is<picojson::object>();
  }
  return false;
}

// The key of the first member that is absent or of another kind, or nullptr
// when all are there.
const char* FirstBadMember(const picojson::object& object, std::initializer_list<Member> members) {
  for (const Member& member : members) {
    auto it = object.find(member.key);
    if (it == object.end() || !IsOfKind(it->second, member.kind)) return member.key;
  }
  return nullptr;
}

const std::string& Text(const picojson::object& object, const char* key) {
  return object.at(key).get<std::string>();
}

// An int held exactly by a JSON number.
bool ExactInt(const picojson::value& value, int* out) {
  if (!value.is<double>()) return false;
  double number = value.get<double>();
  if (std::trunc(number) != number || number < -2147483648.0 || number > 2147483647.0) {
    return false;
  }
  *out = static_cast<int>(number);
  return true;
}

std::string BadMember(const char* key) {
  return Refusal(kResultMalformed, std::string("\"") + key + "\" is missing or of the wrong kind");
}

std::string Ok(picojson::object members) {
  members["status"] = picojson::value("ok");
  return Write(picojson::value(members));
}

}  // namespace

const std::vector<std::string>& DispatcherActions() {
  static const std::vector<std::string> actions = {"request_token", "request_accesstoken",
                                                   "request_gameservice"};
  return actions;
}

picojson::value DefaultQualityConfig() {
  struct VideoLevel {
    int fps, resolution_ratio, bitrate_ratio;
  };
  const int audio_bitrates[] = {64, 128, 256};
  const VideoLevel video_levels[] = {{30, 50, 40}, {60, 75, 70}, {60, 100, 100}};
  picojson::array audio;
  picojson::array video;
  for (int level = 0; level < 3; ++level) {
    picojson::object a;
    a["level"] = Number(level);
    a["bitrate"] = Number(audio_bitrates[level]);
    audio.emplace_back(a);
    picojson::object v;
    v["level"] = Number(level);
    v["fps"] = Number(video_levels[level].fps);
    v["resolutionRatio"] = Number(video_levels[level].resolution_ratio);
    v["bitrateRatio"] = Number(video_levels[level].bitrate_ratio);
    video.emplace_back(v);
  }
  picojson::object config;
  config["version"] = Number(1);
  config["audio"] = picojson::value(audio);
  config["video"] = picojson::value(video);
  return picojson::value(config);
}

bool ReadGameService(const std::string& json_text, GameService* service, std::string* error) {
  picojson::value parsed;
  if (!ParseObject(json_text, parsed)) {
    *error = "the game service is not a JSON object";
    return false;
  }
  GameService result = *service;
  std::pair<const char*, std::string*> texts[] = {{"ipv4", &result.ipv4},
                                                  {"ipv6", &result.ipv6},
                                                  {"key1", &result.key1},
                                                  {"key2", &result.key2}};
  std::pair<const char*, int*> ports[] = {{"control_port", &result.control_port},
                                          {"video_port", &result.video_port},
                                          {"audio_port", &result.audio_port},
                                          {"input_port", &result.input_port}};
  for (const auto& [key, value] : parsed.get<picojson::object>()) {
    bool known = false;
    bool fits = false;
    for (auto& text : texts) {
      if (key != text.first) continue;
      known = true;
      fits = value.is<std::string>();
      if (fits) *text.second = value.get<std::string>();
    }
    for (auto& port : ports) {
      if (key != port.first) continue;
      known = true;
      fits = ExactInt(value, port.second);
    }
    if (key == "config") {
      known = fits = true;
      result.config = value;
    }
    if (!known) {
      *error = "the game service has an unknown member \"" + key + "\"";
      return false;
    }
    if (!fits) {
      *error = "the game service member \"" + key + "\" is of the wrong kind";
      return false;
    }
  }
  *service = std::move(result);
  return true;
}

std::string Refusal(int result, const std::string& message) {
  picojson::object members;
  members["status"] = picojson::value("ng");
  members["result"] = Number(result);
  members["message"] = picojson::value(message);
  return Write(picojson::value(members));
}

std::string BodyWithSecretsShortened(const std::string& body) {
  static const char* const kSecrets[] = {"token", "zuc_key_value", "access_token", "key1", "key2"};
  picojson::value parsed;
  if (!ParseObject(body, parsed)) return body;
  picojson::object& members = parsed.get<picojson::object>();
  for (const char* key : kSecrets) {
    auto it = members.find(key);
    if (it != members.end() && it->second.is<std::string>()) {
      it->second = picojson::value(trace::Secret(it->second.get<std::string>()));
    }
  }
  return Write(parsed);
}

DispatcherBook::DispatcherBook(GameService service)
    : service_(std::move(service)), random_(std::random_device()()) {}

void DispatcherBook::Issue(const std::string& token, const std::string& key_value) {
  MutexLock lock(&mu_);
  tokens_.Put(token, Issued{key_value, std::make_shared<const std::string>()});
}

std::string DispatcherBook::Answer(const std::string& action, const std::string& body) {
  picojson::value parsed;
  if (!ParseObject(body, parsed)) {
    return Refusal(kResultMalformed, "the body is not a JSON object");
  }
  const picojson::object& request = parsed.get<picojson::object>();
  const std::string* named = FindString(request, "action");
  if (named == nullptr || *named != action) {
    return Refusal(kResultMalformed, "\"action\" does not name " + action);
  }
  if (action == "request_token") return AnswerToken(request);
  if (action == "request_accesstoken") return AnswerAccesstoken(request);
  if (action == "request_gameservice") return AnswerGameservice(request);
  return Refusal(kResultMalformed, "unknown action " + action);
}

std::string DispatcherBook::AnswerToken(const picojson::object& request) {
  if (const char* bad = FirstBadMember(request, {{"client_version", Kind::kNumber},
                                                 {"gameid", Kind::kString},
                                                 {"try_count", Kind::kNumber}})) {
    return BadMember(bad);
  }
  MutexLock lock(&mu_);
  std::string token = RandomHex(32);
  std::string key_value = RandomHex(32);
  tokens_.Put(token,
              Issued{key_value, std::make_shared<const std::string>(Text(request, "gameid"))});
  picojson::object members;
  members["token"] = picojson::value(token);
  members["zuc_key_value"] = picojson::value(key_value);
  return Ok(std::move(members));
}

std::string DispatcherBook::AnswerAccesstoken(const picojson::object& request) {
  if (const char* bad = FirstBadMember(request, {{"client_version", Kind::kNumber},
                                                 {"token", Kind::kString},
                                                 {"try_count", Kind::kNumber},
                                                 {"zuc_key_value", Kind::kString}})) {
    return BadMember(bad);
  }
  MutexLock lock(&mu_);
  const Issued* issued = tokens_.Find(Text(request, "token"));
  if (issued == nullptr || issued->key_value != Text(request, "zuc_key_value")) {
    return Refusal(kResultNotIssued, "the token was not issued here with this key value");
  }
  std::string access_token = RandomHex(40);
  access_tokens_.Put(access_token, issued->gameid);
  picojson::object members;
  members["access_token"] = picojson::value(access_token);
  return Ok(std::move(members));
}

std::string DispatcherBook::AnswerGameservice(const picojson::object& request) {
  if (const char* bad = FirstBadMember(request, {{"access_token", Kind::kString},
                                                 {"audio_profile", Kind::kNumber},
                                                 {"client_version", Kind::kNumber},
                                                 {"env", Kind::kObject},
                                                 {"io_gamepad", Kind::kNumber},
                                                 {"io_keyboard", Kind::kNumber},
                                                 {"io_mouse", Kind::kNumber},
                                                 {"io_sensor", Kind::kNumber},
                                                 {"io_touch", Kind::kNumber},
                                                 {"try_count", Kind::kNumber},
                                                 {"video_profile", Kind::kNumber},
                                                 {"yuv_itu_r_bt", Kind::kNumber}})) {
    return BadMember(bad);
  }
  for (const auto& entry : request.at("env").get<picojson::object>()) {
    if (!entry.second.is<std::string>()) {
      return Refusal(kResultMalformed, "env entry \"" + entry.first + "\" is not a string");
    }
  }
  MutexLock lock(&mu_);
  const GameId* gameid = access_tokens_.Find(Text(request, "access_token"));
  if (gameid == nullptr) return Refusal(kResultNotIssued, "the access token was not issued here");
  picojson::object members;
  members["gameid"] = picojson::value(**gameid);
  members["ipv4"] = picojson::value(service_.ipv4);
  members["ipv6"] = picojson::value(service_.ipv6);
  members["control_port"] = Number(service_.control_port);
  members["video_port"] = Number(service_.video_port);
  members["audio_port"] = Number(service_.audio_port);
  members["input_port"] = Number(service_.input_port);
  members["key1"] = picojson::value(service_.key1.empty() ? RandomHex(32) : service_.key1);
  members["key2"] = picojson::value(service_.key2.empty() ? RandomHex(32) : service_.key2);
  if (!service_.config.is<picojson::null>()) members["config"] = service_.config;
  return Ok(std::move(members));
}

std::string DispatcherBook::RandomHex(size_t digits) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(digits);
  while (text.size() < digits) {
    uint64_t bits = random_();
    for (int i = 0; i < 16 && text.size() < digits; ++i, bits >>= 4) text += kHex[bits & 0xF];
  }
  return text;
}

std::string MonitorBook::Put(const std::multimap<std::string, std::string>& params) {
  static const char* const kNumbers[] = {
      "slotid",       "capture_down_time", "heartbeat_down_time", "handling_down_time",
      "client_delay", "remote_port"};
  picojson::object report;
  for (const char* key : kNumbers) {
    auto it = params.find(key);
    int value = 0;
    if (it == params.end() || !ParseQueryInt(it->second, &value)) {
      return Refusal(kResultMalformed, std::string(key) + " is missing or not a decimal int");
    }
    report[key] = Number(value);
  }
  auto ip = params.find("remote_ip");
  if (ip == params.end()) return Refusal(kResultMalformed, "remote_ip is missing");
  report["remote_ip"] = picojson::value(ip->second);

  MutexLock lock(&mu_);
  reports_.emplace_back(report);
  while (reports_.size() > kKeptReports) reports_.pop_front();
  return Ok(picojson::object());
}

std::string MonitorBook::ReportsJson() const {
  MutexLock lock(&mu_);
  picojson::object members;
  members["status"] = picojson::value("ok");
  members["reports"] = picojson::value(picojson::array(reports_.begin(), reports_.end()));
  return Write(picojson::value(members));
}

}  // namespace dispatcher
}  // namespace vanta
