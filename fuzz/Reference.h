// The reference answer checks of the differential fuzz targets: each reads
// the whole picojson tree of the answer (json::Parse, the same parser and
// nesting bound) and applies the same rules as the shipped check of the
// same name in messages/, with the same outputs and verdicts.
#ifndef VANTA_FUZZ_REFERENCE_H_
#define VANTA_FUZZ_REFERENCE_H_

#include <string>

#include "messages/Json.h"
#include "vanta/WebService.h"

namespace vanta {
namespace reference {

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
