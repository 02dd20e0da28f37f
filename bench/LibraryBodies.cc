#include "bench/LibraryBodies.h"

#include "messages/Json.h"

namespace vanta {
namespace bench {

std::string LibraryTokenBody(const NegotiationArgs& args) {
  picojson::object request;
  request["action"] = picojson::value("request_token");
  request["client_version"] = json::Number(args.client_version);
  request["gameid"] = picojson::value(args.gameid);
  request["try_count"] = json::Number(args.try_count);
  return json::Write(picojson::value(request));
}

std::string LibraryAccesstokenBody(const NegotiationArgs& args, const std::string& token,
                                   const std::string& zuc_key_value) {
  picojson::object request;
  request["action"] = picojson::value("request_accesstoken");
  request["client_version"] = json::Number(args.client_version);
  request["token"] = picojson::value(token);
  request["try_count"] = json::Number(args.try_count);
  request["zuc_key_value"] = picojson::value(zuc_key_value);
  return json::Write(picojson::value(request));
}

std::string LibraryGameserviceBody(const NegotiationArgs& args, const std::string& access_token) {
  picojson::object env;
  for (const auto& entry : args.env.entries) {
    env[entry.first.substr(0, entry.first.find('\0'))] =
        picojson::value(entry.second.substr(0, entry.second.find('\0')));
  }
  picojson::object request;
  request["access_token"] = picojson::value(access_token);
  request["action"] = picojson::value("request_gameservice");
  request["audio_profile"] = json::Number(args.audio_profile);
  request["client_version"] = json::Number(args.client_version);
  request["env"] = picojson::value(env);
  request["io_gamepad"] = json::Number(args.io_gamepad);
  request["io_keyboard"] = json::Number(args.io_keyboard);
  request["io_mouse"] = json::Number(args.io_mouse);
  request["io_sensor"] = json::Number(args.io_sensor);
  request["io_touch"] = json::Number(args.io_touch);
  request["try_count"] = json::Number(args.try_count);
  request["video_profile"] = json::Number(args.video_profile);
  request["yuv_itu_r_bt"] = json::Number(args.yuv_itu_r_bt);
  return json::Write(picojson::value(request));
}

std::string LibraryDeviceIdBody(const DeviceIdArgs& args) {
  picojson::object request;
  request["client_version"] = picojson::value(args.client_version);
  request["device_id"] = picojson::value(args.device_id);
  request["request_type"] = picojson::value(args.request_type);
  request["zu_key_value"] = picojson::value(args.zu_key_value);
  return json::Write(picojson::value(request));
}

}  // namespace bench
}  // namespace vanta
