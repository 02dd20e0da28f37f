#include "messages/Token.h"

#include "messages/SelectiveParse.h"

namespace vanta {

std::string TokenRequestBody(int client_version, const std::string& gameid, int try_count) {
  json::ObjectWriter body(96 + gameid.size());
  body.String("action", "request_token");
  body.Number("client_version", client_version);
  body.String("gameid", gameid);
  body.Number("try_count", try_count);
  return body.Finish();
}

namespace {

struct TokenAnswer : json::Envelope {
  TokenAnswer() {
    Keep("token", token);
    Keep("zuc_key_value", zuc_key_value);
  }
  json::Slot token;
  json::Slot zuc_key_value;
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
