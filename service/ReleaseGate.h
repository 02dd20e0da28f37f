// The check of the run-time OpenSSL and libcurl releases made by
// WebService::Initialize.
#ifndef VANTA_SERVICE_RELEASE_GATE_H_
#define VANTA_SERVICE_RELEASE_GATE_H_

#include "vanta/ErrorCode.h"

namespace vanta {

struct Releases {
  unsigned long openssl;  // OpenSSL_version_num()
  unsigned int curl;      // curl_version_info(CURLVERSION_NOW)->version_num
};

// The releases Initialize accepts: those the library was compiled against
// (VANTA_REQUIRED_RELEASES=build) or OpenSSL 1.1.1g and libcurl 7.70.0
// (vendor).
Releases RequiredReleases();

// The releases found at run time. libcurl is asked only when OpenSSL matches
// `required`; otherwise curl is reported as 0.
Releases RuntimeReleases(const Releases& required);

// 0 when both releases are exactly the required ones, else
// WS_ERROR_LIBRARY_VERSION.
ErrorCode CheckReleases(const Releases& runtime, const Releases& required);

}  // namespace vanta

#endif  // VANTA_SERVICE_RELEASE_GATE_H_
