#include "bench/NlohmannMessages.h"

#include <nlohmann/json.hpp>

namespace vanta {
namespace bench {
namespace nl {

using nlohmann::json;

std::string TokenBody(const NegotiationArgs& args) {
  json j;
  j["action"] = "request_token";
  j["client_version"] = args.client_version;
  j["gameid"] = args.gameid;
  j["try_count"] = args.try_count;
  return j.dump();
}

std::string AccesstokenBody(const NegotiationArgs& args, const std::string& token,
                            const std::string& zuc_key_value) {
  json j;
  j["action"] = "request_accesstoken";
  j["client_version"] = args.client_version;
  j["token"] = token;
  j["try_count"] = args.try_count;
  j["zuc_key_value"] = zuc_key_value;
  return j.dump();
}

std::string GameserviceBody(const NegotiationArgs& args, const std::string& access_token) {
  json j;
  j["access_token"] = access_token;
  j["action"] = "request_gameservice";
  j["audio_profile"] = args.audio_profile;
  j["client_version"] = args.client_version;
  j["env"] = json::object();
  for (const auto& entry : args.env.entries) j["env"][entry.first] = entry.second;
  j["io_gamepad"] = args.io_gamepad;
  j["io_keyboard"] = args.io_keyboard;
  j["io_mouse"] = args.io_mouse;
  j["io_sensor"] = args.io_sensor;
  j["io_touch"] = args.io_touch;
  j["try_count"] = args.try_count;
  j["video_profile"] = args.video_profile;
  j["yuv_itu_r_bt"] = args.yuv_itu_r_bt;
  return j.dump();
}

std::string DeviceIdBody(const DeviceIdArgs& args) {
  json j;
  j["client_version"] = args.client_version;
  j["device_id"] = args.device_id;
  j["request_type"] = args.request_type;
  j["zu_key_value"] = args.zu_key_value;
  return j.dump();
}

namespace {

// The answer as an object whose "status" is "ok"; throws otherwise.
json ParseOk(const std::string& text) {
  json j = json::parse(text);
  if (j.at("status").get<std::string>() != "ok") throw std::runtime_error("not ok");
  return j;
}

// Checks that the levels of entries are exactly 0..n-1, each once.
bool LevelsCover(const json& entries) {
  bool seen[8] = {};
  for (const json& e : entries) {
    int level = e.at("level").get<int>();
    if (level < 0 || level >= static_cast<int>(entries.size()) || seen[level]) return false;
    seen[level] = true;
  }
  return true;
}

bool InRange(int v, int lo, int hi) { return v >= lo && v <= hi; }

}  // namespace

bool ParseToken(const std::string& text, std::string& token, std::string& zuc_key_value) {
  try {
    json j = ParseOk(text);
    std::string t = j.at("token").get<std::string>();
    std::string k = j.at("zuc_key_value").get<std::string>();
    token = std::move(t);
    zuc_key_value = std::move(k);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool ParseAccesstoken(const std::string& text, std::string& access_token) {
  try {
    access_token = ParseOk(text).at("access_token").get<std::string>();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool ParseGameservice(const std::string& text, Gameservice& out) {
  try {
    json j = ParseOk(text);
    j.at("gameid").get<std::string>();
    Gameservice g;
    g.ipv4 = j.at("ipv4").get<std::string>();
    g.ipv6 = j.at("ipv6").get<std::string>();
    g.control_port = j.at("control_port").get<int>();
    g.video_port = j.at("video_port").get<int>();
    g.audio_port = j.at("audio_port").get<int>();
    g.input_port = j.at("input_port").get<int>();
    g.key1 = j.at("key1").get<std::string>();
    g.key2 = j.at("key2").get<std::string>();
    g.quality = out.quality;
    if (j.contains("config")) {
      const json& config = j.at("config");
      if (!config.is_object()) return false;
      g.quality.version = config.value("version", 0);
      if (g.quality.version != 0 && g.quality.version != 1) return false;
      if (g.quality.version == 1) {
        const json& audio = config.at("audio");
        const json& video = config.at("video");
        if (!audio.is_array() || !video.is_array() || audio.size() > 8 || video.size() > 8 ||
            !LevelsCover(audio) || !LevelsCover(video)) {
          return false;
        }
        g.quality.audio_level_count = static_cast<int>(audio.size());
        for (const json& e : audio) {
          int bitrate = e.at("bitrate").get<int>();
          if (!InRange(bitrate, 1, 1024)) return false;
          g.quality.audio_bitrate[e.at("level").get<int>()] = bitrate;
        }
        g.quality.video_level_count = static_cast<int>(video.size());
        for (const json& e : video) {
          WebService::QualityParams::Video v{e.at("fps").get<int>(),
                                             e.at("resolutionRatio").get<int>(),
                                             e.at("bitrateRatio").get<int>()};
          if (!InRange(v.fps, 1, 60) || !InRange(v.resolution_ratio, 1, 100) ||
              !InRange(v.bitrate_ratio, 1, 100)) {
            return false;
          }
          g.quality.video[e.at("level").get<int>()] = v;
        }
      }
    }
    out = std::move(g);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool ParseMonitor(const std::string& text) {
  try {
    ParseOk(text);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool ParseDeviceId(const std::string& text, int& status) {
  try {
    json j = json::parse(text);
    int value = j.at("status").get<int>();
    j.at("message");
    if (value != 0) status = value;
    return value == 0;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace nl
}  // namespace bench
}  // namespace vanta
