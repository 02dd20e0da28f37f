#include "messages/Accesstoken.h"

#include "messages/SelectiveParse.h"

namespace vanta {

std::string AccesstokenRequestBody(int client_version, const std::string& token,
                                   const std::string& zuc_key_value, int try_count) {
  json::ObjectWriter body(128 + token.size() + zuc_key_value.size());
  body.String("action", "request_accesstoken");
  body.Number("client_version", client_version);
  body.String("token", token);
  body.Number("try_count", try_count);
  body.String("zuc_key_value", zuc_key_value);
  return body.Finish();
}

namespace {

struct AccesstokenAnswer : json::Envelope {
  AccesstokenAnswer() { Keep("access_token", access_token); }
  json::Slot access_token;
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
