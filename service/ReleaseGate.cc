#include "service/ReleaseGate.h"

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/opensslv.h>

#if !defined(VANTA_REQUIRED_RELEASES_VENDOR)
#error "VANTA_REQUIRED_RELEASES_VENDOR (0 or 1) comes from the build setting"
#endif

namespace vanta {

Releases RequiredReleases() {
#if VANTA_REQUIRED_RELEASES_VENDOR
  // OpenSSL 1.1.1g and libcurl 7.70.0.
  return Releases{0x1010107FUL, 0x074600u};
#else
  return Releases{OPENSSL_VERSION_NUMBER, LIBCURL_VERSION_NUM};
#endif
}

Releases RuntimeReleases(const Releases& required) {
  Releases runtime{OpenSSL_version_num(), 0};
  if (runtime.openssl == required.openssl) {
    runtime.curl = curl_version_info(CURLVERSION_NOW)->version_num;
  }
  return runtime;
}

ErrorCode CheckReleases(const Releases& runtime, const Releases& required) {
  if (runtime.openssl != required.openssl || runtime.curl != required.curl) {
    return WS_ERROR_LIBRARY_VERSION;
  }
  return WS_SUCCESS;
}

}  // namespace vanta
