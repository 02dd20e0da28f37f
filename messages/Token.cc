#include "messages/Token.h"

#include "messages/Kept.h"

namespace vanta {

std::string TokenRequestBody(int client_version, const std::string& gameid, int try_count) {
  picojson::object request;
  request["action"] = picojson::value("request_token");
  request["client_version"] = json::Number(client_version);
  request["gameid"] = picojson::value(gameid);
  request["try_count"] = json::Number(try_count);
  return json::Write(picojson::value(request));
}

namespace {

struct TokenAnswer : json::Envelope {
  TokenAnswer() {
    Keep("token", token);
    Keep("zuc_key_value", zuc_key_value);
  }
  json::Kept token;
  json::Kept zuc_key_value;
};

}  // namespace

Verdict ParseTokenResponse(const std::string& response, std::string& token,
                           std::string& zuc_key_value) {
  TokenAnswer answer;
  Verdict verdict = json::CheckEnvelope(response, answer);
  if (!verdict.accepted()) return verdict;
  if (!answer.token.is_string() || !answer.zuc_key_value.is_string()) return Verdict::Malformed();
  answer.token.CopyTo(token);
  answer.zuc_key_value.CopyTo(zuc_key_value);
  return verdict;
}

}  // namespace vanta
