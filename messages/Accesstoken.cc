#include "messages/Accesstoken.h"

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

Verdict ParseAccesstokenResponse(const std::string& response, std::string& access_token) {
  picojson::value root;
  Verdict verdict = json::CheckEnvelope(response, root);
  if (!verdict.accepted()) return verdict;
  const std::string* value = json::Find<std::string>(root.get<picojson::object>(), "access_token");
  if (value == nullptr) return Verdict::Malformed();
  access_token = *value;
  return verdict;
}

}  // namespace vanta
