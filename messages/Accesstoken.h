// request_accesstoken: a token and key value in, an access token out.
#ifndef VANTA_MESSAGES_ACCESSTOKEN_H_
#define VANTA_MESSAGES_ACCESSTOKEN_H_

#include <string>

#include "messages/Json.h"

namespace vanta {

// The request_accesstoken body: compact JSON with sorted keys.
std::string AccesstokenRequestBody(int client_version, const std::string& token,
                                   const std::string& zuc_key_value, int try_count);

// Checks a request_accesstoken answer. Accepted: access_token holds the
// answer's string "access_token"; otherwise it is not touched. The string
// is copied from response, which must not be access_token.
Verdict ParseAccesstokenResponse(const std::string& response, std::string& access_token);

}  // namespace vanta

#endif  // VANTA_MESSAGES_ACCESSTOKEN_H_
