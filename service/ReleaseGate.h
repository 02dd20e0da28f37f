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

// Which releases pass, chosen at build time by VANTA_REQUIRED_RELEASES.
enum class ReleaseMode {
  kBuild,   // the compiled release or a later one of the same major version
  kExact,   // exactly the compiled release
  kVendor,  // exactly OpenSSL 1.1.1g and libcurl 7.70.0
};

// The mode this library was built with.
ReleaseMode ConfiguredReleaseMode();

// The releases a mode compares with: the fixed pair for kVendor, else those
// the library was compiled against.
Releases RequiredReleases(ReleaseMode mode);

// The releases found at run time. libcurl is asked only when OpenSSL
// passes; otherwise curl is reported as 0.
Releases RuntimeReleases(ReleaseMode mode);

// 0 when both runtime releases pass mode, else WS_ERROR_LIBRARY_VERSION.
ErrorCode CheckReleases(const Releases& runtime, ReleaseMode mode);

}  // namespace vanta

#endif  // VANTA_SERVICE_RELEASE_GATE_H_
