// The references of the differential fuzz targets. Each answer check reads
// the whole picojson tree of the answer (picojson's parser under the same
// nesting bound) and applies the same rules as the shipped check of the
// same name in messages/, with the same outputs and verdicts; each body
// builder builds the request's picojson tree and writes it with picojson's
// serialize.
#ifndef VANTA_FUZZ_REFERENCE_H_
#define VANTA_FUZZ_REFERENCE_H_

#include <string>

#include "messages/Json.h"
#include "vanta/WebService.h"

namespace vanta {
namespace reference {

std::string TokenRequestBody(int client_version, const std::string& gameid, int try_count);
std::string AccesstokenRequestBody(int client_version, const std::string& token,
                                   const std::string& zuc_key_value, int try_count);
std::string GameserviceRequestBody(int client_version, const std::string& access_token,
                                   int video_profile, int audio_profile, int io_mouse, int io_touch,
                                   int io_keyboard, int io_sensor, int io_gamepad, int yuv_itu_r_bt,
                                   int try_count, const WebService::ClientEnvironmentInfo& env);
std::string SendDeviceIdRequestBody(const std::string& zu_key_value, const std::string& device_id,
                                    const std::string& request_type,
                                    const std::string& client_version);

Verdict ParseTokenResponse(const std::string& response, std::string& token,
                           std::string& zuc_key_value);
Verdict ParseAccesstokenResponse(const std::string& response, std::string& access_token);
Verdict ParseGameserviceResponse(const std::string& response, std::string& ipv4, std::string& ipv6,
                                 int& control_port, int& video_port, int& audio_port,
                                 int& input_port, std::string& key1, std::string& key2,
                                 WebService::QualityParams& quality);
Verdict ParseLauncherMonitorResponse(const std::string& response);
Verdict ParseSendDeviceIdResponse(const std::string& response, int& status);

}  // namespace reference
}  // namespace vanta

#endif  // VANTA_FUZZ_REFERENCE_H_
