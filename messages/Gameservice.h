// request_gameservice: the client's capabilities in; the game service's
// addresses, ports, keys and optional quality configuration out.
#ifndef VANTA_MESSAGES_GAMESERVICE_H_
#define VANTA_MESSAGES_GAMESERVICE_H_

#include <string>

#include "messages/Json.h"
#include "vanta/ServiceTypes.h"

namespace vanta {

// The request_gameservice body: compact JSON with sorted keys; "env" holds
// one string member per entry, key and value each cut at its first NUL.
std::string GameserviceRequestBody(int client_version, const std::string& access_token,
                                   int video_profile, int audio_profile, int io_mouse, int io_touch,
                                   int io_keyboard, int io_sensor, int io_gamepad, int yuv_itu_r_bt,
                                   int try_count, const ClientEnvironmentInfo& env);

// Checks a request_gameservice answer. Every member and the whole quality
// configuration ("config", optional) are tested before anything is written;
// accepted, the connection outputs and the configuration's levels are
// written. The one partial write: a bitrate, fps or ratio out of range is
// malformed after the connection outputs and the quality entries up to and
// including the offending one have been written. The strings are copied
// from response, which must not be one of the outputs.
Verdict ParseGameserviceResponse(const std::string& response, std::string& ipv4, std::string& ipv6,
                                 int& control_port, int& video_port, int& audio_port,
                                 int& input_port, std::string& key1, std::string& key2,
                                 QualityParams& quality);

}  // namespace vanta

#endif  // VANTA_MESSAGES_GAMESERVICE_H_
