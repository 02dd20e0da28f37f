#include "bench/LibraryBodies.h"

#include "messages/Accesstoken.h"
#include "messages/Gameservice.h"
#include "messages/SendDeviceId.h"
#include "messages/Token.h"

namespace vanta {
namespace bench {

std::string LibraryTokenBody(const NegotiationArgs& args) {
  return TokenRequestBody(args.client_version, args.gameid, args.try_count);
}

std::string LibraryAccesstokenBody(const NegotiationArgs& args, const std::string& token,
                                   const std::string& zuc_key_value) {
  return AccesstokenRequestBody(args.client_version, token, zuc_key_value, args.try_count);
}

std::string LibraryGameserviceBody(const NegotiationArgs& args, const std::string& access_token) {
  return GameserviceRequestBody(args.client_version, access_token, args.video_profile,
                                args.audio_profile, args.io_mouse, args.io_touch, args.io_keyboard,
                                args.io_sensor, args.io_gamepad, args.yuv_itu_r_bt, args.try_count,
                                args.env);
}

std::string LibraryDeviceIdBody(const DeviceIdArgs& args) {
  return SendDeviceIdRequestBody(args.zu_key_value, args.device_id, args.request_type,
                                 args.client_version);
}

}  // namespace bench
}  // namespace vanta
