#include "messages/SendDeviceId.h"

#include <cstdint>

namespace vanta {

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
  picojson::value root;
  if (!json::ParseObject(response, root)) return Verdict::Malformed();
  const picojson::object& answer = root.get<picojson::object>();
  if (!json::Has(answer, "status") || !json::Has(answer, "message")) return Verdict::Malformed();
  const double* number = json::Find<double>(answer, "status");
  int32_t value = number != nullptr ? json::ToInt32(*number) : INT32_MIN;
  if (value == 0) return Verdict::Accepted();
  status = value;
  return Verdict::Refused(value);
}

}  // namespace vanta
