#include "tools/service_json.h"

#include <picojson.h>

#include <algorithm>

namespace vanta {
namespace tools {

namespace {

picojson::value Number(int value) { return picojson::value(static_cast<double>(value)); }

picojson::value QualityJson(const WebService::QualityParams& quality) {
  int video_count = std::clamp(quality.video_level_count, 0, WebService::MAX_QUALITY_SETTING_LEVEL);
  int audio_count = std::clamp(quality.audio_level_count, 0, WebService::MAX_QUALITY_SETTING_LEVEL);
  picojson::array video;
  for (int level = 0; level < video_count; ++level) {
    picojson::object entry;
    entry["level"] = Number(level);
    entry["fps"] = Number(quality.video[level].fps);
    entry["resolution_ratio"] = Number(quality.video[level].resolution_ratio);
    entry["bitrate_ratio"] = Number(quality.video[level].bitrate_ratio);
    video.emplace_back(entry);
  }
  picojson::array audio_bitrate;
  for (int level = 0; level < audio_count; ++level) {
    audio_bitrate.push_back(Number(quality.audio_bitrate[level]));
  }
  picojson::object members;
  members["version"] = Number(quality.version);
  members["video_level_count"] = Number(quality.video_level_count);
  members["audio_level_count"] = Number(quality.audio_level_count);
  members["video"] = picojson::value(video);
  members["audio_bitrate"] = picojson::value(audio_bitrate);
  return picojson::value(members);
}

}  // namespace

std::string ServiceJson(const WebServiceAccessor& accessor) {
  picojson::object members;
  members["ipv4"] = picojson::value(accessor.GetIpv4());
  members["ipv6"] = picojson::value(accessor.GetIpv6());
  members["control_port"] = Number(accessor.GetControlPort());
  members["video_port"] = Number(accessor.GetVideoPort());
  members["audio_port"] = Number(accessor.GetAudioPort());
  members["input_port"] = Number(accessor.GetInputPort());
  members["key1"] = picojson::value(accessor.GetKey1());
  members["key2"] = picojson::value(accessor.GetKey2());
  members["access_token"] = picojson::value(accessor.GetAccessToken());
  members["token"] = picojson::value(accessor.GetToken());
  members["zuc_key_value"] = picojson::value(accessor.GetZucKeyValue());
  members["quality"] = QualityJson(accessor.GetQualityParams());
  return picojson::value(members).serialize(true);
}

}  // namespace tools
}  // namespace vanta
