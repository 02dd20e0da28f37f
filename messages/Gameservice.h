// request_gameservice: the client's capabilities in; the game service's
// addresses, ports, keys and optional quality configuration out.
#ifndef VANTA_MESSAGES_GAMESERVICE_H_
#define VANTA_MESSAGES_GAMESERVICE_H_

#include <string>

#include "vanta/ErrorCode.h"
#include "vanta/WebService.h"

namespace vanta {

// Checks a request_gameservice answer. Every member and the whole quality
// configuration ("config", optional) are tested before anything is written;
// on 0 the connection outputs and the configuration's levels are written.
// The one partial write: a bitrate, fps or ratio out of range gives
// WS_ERROR_BAD_RESPONSE after the connection outputs and the quality
// entries up to and including the offending one have been written.
ErrorCode ParseGameserviceResponse(const std::string& response, std::string& ipv4,
                                   std::string& ipv6, int& control_port, int& video_port,
                                   int& audio_port, int& input_port, std::string& key1,
                                   std::string& key2, WebService::QualityParams& quality);

}  // namespace vanta

#endif  // VANTA_MESSAGES_GAMESERVICE_H_
