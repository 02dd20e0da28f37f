// Device identifier registration with the web API: four strings in, a
// numeric "status" (0 for success) out.
#ifndef VANTA_MESSAGES_SEND_DEVICE_ID_H_
#define VANTA_MESSAGES_SEND_DEVICE_ID_H_

#include <string>

#include "messages/Json.h"

namespace vanta {

// The registration body: the four members as JSON strings, sorted by key.
std::string SendDeviceIdRequestBody(const std::string& zu_key_value, const std::string& device_id,
                                    const std::string& request_type,
                                    const std::string& client_version);

// Checks a registration answer: a JSON object with "status" and "message"
// (kinds not tested; "message" is dropped), else malformed. "status" is
// truncated to int32; a number out of that range, or a status that is not a
// number at all, counts as -2147483648. Status 0 is accepted and leaves
// status untouched; any other is stored in status and is a refusal with it.
Verdict ParseSendDeviceIdResponse(const std::string& response, int& status);

}  // namespace vanta

#endif  // VANTA_MESSAGES_SEND_DEVICE_ID_H_
