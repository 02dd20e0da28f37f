// The tables that turn foreign results into result codes.
#ifndef VANTA_SERVICE_CODES_H_
#define VANTA_SERVICE_CODES_H_

#include <cstdint>

#include "vanta/ErrorCode.h"

namespace vanta {

struct Verdict;

// Maps the result of curl_easy_perform (a CURLcode) to a result code.
// 0 gives 0; every unlisted value gives WS_ERROR_FAILED.
ErrorCode MapTransportResult(int curl_code);

// Maps a server's status number to a result code. Never returns 0.
ErrorCode MapServerStatus(int32_t status);

// An answer check's verdict as a result code: 0, WS_ERROR_BAD_RESPONSE or
// the server status mapping of a refusal.
ErrorCode CodeOf(const Verdict& verdict);

// True for the codes that another attempt cannot change.
bool IsServerResponseCode(ErrorCode code);

// What a public request returns for the code of its last stage: the failure
// itself, or exactly 0 for every non-failure.
inline ErrorCode Normalize(ErrorCode code) {
  return code.IsFailure() ? code : ErrorCode(WS_SUCCESS);
}

}  // namespace vanta

#endif  // VANTA_SERVICE_CODES_H_
