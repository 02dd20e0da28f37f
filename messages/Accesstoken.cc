#include "messages/Accesstoken.h"

#include "core/Result.h"
#include "messages/Json.h"
#include "service/WebServiceImpl.h"

namespace vanta {

std::string AccesstokenRequestBody(int client_version, const std::string& token,
                                   const std::string& zuc_key_value, int try_count) {
  picojson::object request;
  request["action"] = picojson::value("request_accesstoken");
  request["client_version"] = json::Number(client_version);
  request["token"] = picojson::value(token);
  request["try_count"] = json::Number(try_count);
  request["zuc_key_value"] = picojson::value(zuc_key_value);
  return json::Write(picojson::value(request));
}

ErrorCode WebServiceImpl::RequestAccesstoken(const std::string& url, int client_version,
                                             const std::string& token,
                                             const std::string& zuc_key_value, int try_count,
                                             std::string& response) {
  return json::PostRequest(
      http, url,
      [&] { return AccesstokenRequestBody(client_version, token, zuc_key_value, try_count); },
      response);
}

ErrorCode ParseAccesstokenResponse(const std::string& response, std::string& access_token) {
  picojson::value root;
  ErrorCode code = json::CheckEnvelope(response, root);
  if (code != WS_SUCCESS) return code;
  const std::string* value = json::Find<std::string>(root.get<picojson::object>(), "access_token");
  if (value == nullptr) return WS_ERROR_BAD_RESPONSE;
  access_token = *value;
  return WS_SUCCESS;
}

ErrorCode WebService::RequestZuAccesstoken(int client_version, const std::string& token,
                                           const std::string& zuc_key_value, int try_count,
                                           std::string& access_token) {
  if (!IsInitialized()) return WS_ERROR_FAILED;
  std::string response;
  ErrorCode code = impl->RequestAccesstoken(url_request_accesstoken, client_version, token,
                                            zuc_key_value, try_count, response);
  if (IsFailure(code)) return code;
  return Normalize(ParseAccesstokenResponse(response, access_token));
}

}  // namespace vanta
