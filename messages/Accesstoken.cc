#include "messages/Accesstoken.h"

#include "messages/Kept.h"

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

namespace {

struct AccesstokenAnswer : json::Envelope {
  AccesstokenAnswer() { Keep("access_token", access_token); }
  json::Kept access_token;
};

}  // namespace

Verdict ParseAccesstokenResponse(const std::string& response, std::string& access_token) {
  AccesstokenAnswer answer;
  Verdict verdict = json::CheckEnvelope(response, answer);
  if (!verdict.accepted()) return verdict;
  if (!answer.access_token.is_string()) return Verdict::Malformed();
  answer.access_token.CopyTo(access_token);
  return verdict;
}

}  // namespace vanta
