#include "messages/Token.h"

namespace vanta {

std::string TokenRequestBody(int client_version, const std::string& gameid, int try_count) {
  picojson::object request;
  request["action"] = picojson::value("request_token");
  request["client_version"] = json::Number(client_version);
  request["gameid"] = picojson::value(gameid);
  request["try_count"] = json::Number(try_count);
  return json::Write(picojson::value(request));
}

Verdict ParseTokenResponse(const std::string& response, std::string& token,
                           std::string& zuc_key_value) {
  picojson::value root;
  Verdict verdict = json::CheckEnvelope(response, root);
  if (!verdict.accepted()) return verdict;
  const picojson::object& answer = root.get<picojson::object>();
  const std::string* new_token = json::Find<std::string>(answer, "token");
  const std::string* new_key = json::Find<std::string>(answer, "zuc_key_value");
  if (new_token == nullptr || new_key == nullptr) return Verdict::Malformed();
  token = *new_token;
  zuc_key_value = *new_key;
  return verdict;
}

}  // namespace vanta
