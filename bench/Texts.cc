#include "bench/Texts.h"

namespace vanta {
namespace bench {

const char kTokenPath[] = "/dispatcher/request_token";
const char kAccesstokenPath[] = "/dispatcher/request_accesstoken";
const char kGameservicePath[] = "/dispatcher/request_gameservice";
const char kMonitorPath[] = "/monitor/put";
const char kDispatcherBase[] = "/dispatcher/";

namespace {

NegotiationArgs MakeArgs() {
  NegotiationArgs args;
  args.env.entries = {{"os", "linux"}, {"gpu", "integrated"}, {"cpu", "x86-64"}};
  return args;
}

// A game service answer with all 8 audio and 8 video levels, listed in
// descending level order so that the level bookkeeping is exercised.
std::string MakeGameserviceAnswer() {
  std::string audio;
  std::string video;
  for (int level = 7; level >= 0; --level) {
    const std::string l = std::to_string(level);
    if (!audio.empty()) audio += ",";
    audio += "{\"level\":" + l + ",\"bitrate\":" + std::to_string(32 + 32 * level) + "}";
    if (!video.empty()) video += ",";
    video += "{\"level\":" + l + ",\"bitrateRatio\":" + std::to_string(30 + 10 * level) +
             ",\"fps\":" + std::to_string(level < 4 ? 30 : 60) +
             ",\"resolutionRatio\":" + std::to_string(65 + 5 * level) + "}";
  }
  return "{\"status\":\"ok\",\"gameid\":\"bench-game-0001\",\"ipv4\":\"192.0.2.10\","
         "\"ipv6\":\"2001:db8::10\",\"control_port\":9000,\"video_port\":9001,"
         "\"audio_port\":9002,\"input_port\":9003,"
         "\"key1\":\"5f2b9c0e7a1d4c3b8e6f0a2d9c7b1e4f\","
         "\"key2\":\"a93c1e7f0b2d4e6c8a0f3b5d7e9c1a2b\","
         "\"config\":{\"version\":1,\"audio\":[" +
         audio + "],\"video\":[" + video + "]}}";
}

}  // namespace

const NegotiationArgs& Args() {
  static const NegotiationArgs args = MakeArgs();
  return args;
}

const std::string& Token() {
  static const std::string s =
      "tk-7c1f0e9a2b4d6c8e0f1a3b5c7d9e1f20-3a5c7e9b1d3f5a7c9e1b3d5f7a9c1e3b";
  return s;
}
const std::string& ZucKeyValue() {
  static const std::string s = "d41d8cd98f00b204e9800998ecf8427e";
  return s;
}
const std::string& AccessToken() {
  static const std::string s =
      "at-0b1c2d3e4f5a6b7c8d9e0f1a2b3c4d5e-6f7a8b9c0d1e2f3a4b5c6d7e8f9a0b1c";
  return s;
}

const std::string& TokenBody() {
  static const std::string s =
      "{\"action\":\"request_token\",\"client_version\":3,\"gameid\":\"bench-game-0001\","
      "\"try_count\":0}";
  return s;
}
const std::string& AccesstokenBody() {
  static const std::string s =
      "{\"action\":\"request_accesstoken\",\"client_version\":3,\"token\":\"" + Token() +
      "\",\"try_count\":0,\"zuc_key_value\":\"" + ZucKeyValue() + "\"}";
  return s;
}
const std::string& GameserviceBody() {
  static const std::string s =
      "{\"access_token\":\"" + AccessToken() +
      "\",\"action\":\"request_gameservice\",\"audio_profile\":1,\"client_version\":3,"
      "\"env\":{\"cpu\":\"x86-64\",\"gpu\":\"integrated\",\"os\":\"linux\"},"
      "\"io_gamepad\":1,\"io_keyboard\":1,\"io_mouse\":1,\"io_sensor\":0,\"io_touch\":0,"
      "\"try_count\":0,\"video_profile\":2,\"yuv_itu_r_bt\":709}";
  return s;
}

const std::string& TokenAnswer() {
  static const std::string s = "{\"status\":\"ok\",\"token\":\"" + Token() +
                               "\",\"zuc_key_value\":\"" + ZucKeyValue() + "\"}";
  return s;
}
const std::string& AccesstokenAnswer() {
  static const std::string s = "{\"status\":\"ok\",\"access_token\":\"" + AccessToken() + "\"}";
  return s;
}
const std::string& GameserviceAnswer() {
  static const std::string s = MakeGameserviceAnswer();
  return s;
}
const std::string& MonitorAnswer() {
  static const std::string s = "{\"status\":\"ok\"}";
  return s;
}

const DeviceIdArgs& DeviceId() {
  static const DeviceIdArgs args;
  return args;
}
const std::string& DeviceIdBody() {
  static const std::string s =
      "{\"client_version\":\"1.1.0\",\"device_id\":\"" + DeviceId().device_id +
      "\",\"request_type\":\"0\",\"zu_key_value\":\"" + DeviceId().zu_key_value + "\"}";
  return s;
}
const std::string& DeviceIdAnswer() {
  static const std::string s = "{\"status\":0,\"message\":\"registered\"}";
  return s;
}

const MonitorArgs& Monitor() {
  static const MonitorArgs args;
  return args;
}
const std::string& MonitorQuery() {
  static const std::string s =
      "slotid=3&capture_down_time=10&heartbeat_down_time=20&handling_down_time=30&"
      "client_delay=40&remote_ip=192.0.2.5&remote_port=5000";
  return s;
}

}  // namespace bench
}  // namespace vanta
