#include "messages/SendDeviceId.h"

#include <cstdint>

#include "messages/Kept.h"

namespace vanta {

namespace {

struct DeviceIdAnswer : json::KeptObject {
  DeviceIdAnswer() {
    Keep("status", status);
    Keep("message", message);
  }
  json::Kept status;
  json::Kept message;
};

}  // namespace

std::string SendDeviceIdRequestBody(const std::string& zu_key_value, const std::string& device_id,
                                    const std::string& request_type,
                                    const std::string& client_version) {
  picojson::object request;
  request["client_version"] = picojson::value(client_version);
  request["device_id"] = picojson::value(device_id);
  request["request_type"] = picojson::value(request_type);
  request["zu_key_value"] = picojson::value(zu_key_value);
  return json::Write(picojson::value(request));
}

Verdict ParseSendDeviceIdResponse(const std::string& response, int& status) {
  DeviceIdAnswer answer;
  if (!json::ParseKept(response, answer) || !answer.is_object()) return Verdict::Malformed();
  if (!answer.status.present() || !answer.message.present()) return Verdict::Malformed();
  int32_t value = answer.status.is_number() ? json::ToInt32(answer.status.number()) : INT32_MIN;
  if (value == 0) return Verdict::Accepted();
  status = value;
  return Verdict::Refused(value);
}

}  // namespace vanta
