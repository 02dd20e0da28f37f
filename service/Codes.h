// The two tables that turn foreign results into result codes.
#ifndef VANTA_SERVICE_CODES_H_
#define VANTA_SERVICE_CODES_H_

#include <cstdint>

#include "vanta/ErrorCode.h"

namespace vanta {

// Maps the result of curl_easy_perform (a CURLcode) to a result code.
// 0 gives 0; every unlisted value gives WS_ERROR_FAILED.
ErrorCode MapTransportResult(int curl_code);

// Maps a server's status number to a result code. Never returns 0.
ErrorCode MapServerStatus(int32_t status);

// True for the codes that another attempt cannot change.
bool IsServerResponseCode(ErrorCode code);

// The WS_ name of a code that the library defines ("WS_SUCCESS" for 0), or
// nullptr for any other value.
const char* CodeName(ErrorCode code);

}  // namespace vanta

#endif  // VANTA_SERVICE_CODES_H_
