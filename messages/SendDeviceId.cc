#include "messages/SendDeviceId.h"

#include <cstdint>

#include "messages/SelectiveParse.h"

namespace vanta {

namespace {

struct DeviceIdAnswer : json::ObjectSlot {
  DeviceIdAnswer() {
    Keep("status", status);
    Keep("message", message);
  }
  json::Slot status;
  json::Slot message;
};

}  // namespace

std::string SendDeviceIdRequestBody(const std::string& zu_key_value, const std::string& device_id,
                                    const std::string& request_type,
                                    const std::string& client_version) {
  json::ObjectWriter body(96 + client_version.size() + device_id.size() + request_type.size() +
                          zu_key_value.size());
  body.String("client_version", client_version);
  body.String("device_id", device_id);
  body.String("request_type", request_type);
  body.String("zu_key_value", zu_key_value);
  return body.Finish();
}

Verdict ParseSendDeviceIdResponse(const std::string& response, int& status) {
  DeviceIdAnswer answer;
  if (!json::ParseSelected(response, answer) || !answer.is_object()) return Verdict::Malformed();
  if (!answer.status.present() || !answer.message.present()) return Verdict::Malformed();
  int32_t value = answer.status.is_number() ? json::ToInt32(answer.status.number()) : INT32_MIN;
  if (value == 0) return Verdict::Accepted();
  status = value;
  return Verdict::Refused(value);
}

}  // namespace vanta
