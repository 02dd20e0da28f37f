#include "messages/SendDeviceId.h"

#include <cstdint>

#include "core/Result.h"
#include "messages/Json.h"
#include "service/Codes.h"
#include "service/WebServiceImpl.h"

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

ErrorCode WebServiceImpl::SendDeviceId(const std::string& url, const std::string& zu_key_value,
                                       const std::string& device_id,
                                       const std::string& request_type,
                                       const std::string& client_version, std::string& response) {
  return json::PostRequest(
      http, url,
      [&] {
        return SendDeviceIdRequestBody(zu_key_value, device_id, request_type, client_version);
      },
      response);
}

ErrorCode ParseSendDeviceIdResponse(const std::string& response, int& status) {
  picojson::value root;
  ErrorCode code = json::ParseObject(response, root);
  if (code != WS_SUCCESS) return code;
  const picojson::object& answer = root.get<picojson::object>();
  if (!json::Has(answer, "status") || !json::Has(answer, "message")) {
    return WS_ERROR_BAD_RESPONSE;
  }
  const double* number = json::Find<double>(answer, "status");
  int32_t value = number != nullptr ? json::ToInt32(*number) : INT32_MIN;
  if (value == 0) return WS_SUCCESS;
  status = value;
  return MapServerStatus(value);
}

ErrorCode WebService::RequestSendDeviceId(const std::string& zu_key_value,
                                          const std::string& device_id, std::string* response,
                                          int* status, const std::string& request_type,
                                          const std::string& client_version) {
  if (!IsInitialized() || response == nullptr || status == nullptr) return WS_ERROR_FAILED;
  std::string text;
  ErrorCode code = impl->SendDeviceId(url_send_device_id, zu_key_value, device_id, request_type,
                                      client_version, text);
  *response = text;
  if (IsFailure(code)) return code;
  return Normalize(ParseSendDeviceIdResponse(text, *status));
}

}  // namespace vanta
