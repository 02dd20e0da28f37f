#include "messages/Token.h"

#include "core/Result.h"
#include "messages/Json.h"
#include "service/WebServiceImpl.h"

namespace vanta {

std::string TokenRequestBody(int client_version, const std::string& gameid, int try_count) {
  picojson::object request;
  request["action"] = picojson::value("request_token");
  request["client_version"] = json::Number(client_version);
  request["gameid"] = picojson::value(gameid);
  request["try_count"] = json::Number(try_count);
  return json::Write(picojson::value(request));
}

ErrorCode WebServiceImpl::RequestToken(const std::string& url, int client_version,
                                       const std::string& gameid, int try_count,
                                       std::string& response) {
  return json::PostRequest(
      http, url, [&] { return TokenRequestBody(client_version, gameid, try_count); }, response);
}

ErrorCode ParseTokenResponse(const std::string& response, std::string& token,
                             std::string& zuc_key_value) {
  picojson::value root;
  ErrorCode code = json::CheckEnvelope(response, root);
  if (code != WS_SUCCESS) return code;
  const picojson::object& answer = root.get<picojson::object>();
  const std::string* new_token = json::Find<std::string>(answer, "token");
  const std::string* new_key = json::Find<std::string>(answer, "zuc_key_value");
  if (new_token == nullptr || new_key == nullptr) return WS_ERROR_BAD_RESPONSE;
  token = *new_token;
  zuc_key_value = *new_key;
  return WS_SUCCESS;
}

ErrorCode WebService::RequestZuToken(int client_version, const std::string& gameid, int try_count,
                                     std::string& token, std::string& zuc_key_value) {
  if (!IsInitialized()) return WS_ERROR_FAILED;
  std::string response;
  ErrorCode code =
      impl->RequestToken(url_request_token, client_version, gameid, try_count, response);
  if (IsFailure(code)) return code;
  return Normalize(ParseTokenResponse(response, token, zuc_key_value));
}

}  // namespace vanta
