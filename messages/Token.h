// request_token: a game identifier in, a token and a key value out.
#ifndef VANTA_MESSAGES_TOKEN_H_
#define VANTA_MESSAGES_TOKEN_H_

#include <string>

#include "messages/Json.h"

namespace vanta {

// The request_token body: compact JSON with sorted keys.
std::string TokenRequestBody(int client_version, const std::string& gameid, int try_count);

// Checks a request_token answer. Accepted: both outputs hold the answer's
// strings "token" and "zuc_key_value"; otherwise neither is touched. The
// strings are copied from response, which must not be one of the outputs.
Verdict ParseTokenResponse(const std::string& response, std::string& token,
                           std::string& zuc_key_value);

}  // namespace vanta

#endif  // VANTA_MESSAGES_TOKEN_H_
