#include "service/ReleaseGate.h"

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/opensslv.h>

#if !defined(VANTA_REQUIRED_RELEASES_MODE)
#error "VANTA_REQUIRED_RELEASES_MODE (0 build, 1 exact, 2 vendor) comes from the build setting"
#endif

namespace vanta {

namespace {

// OpenSSL numbers its releases 0xMNNFFPPS and libcurl 0xXXYYZZ; the major
// version is the leading field of each.
bool OpensslPasses(unsigned long found, unsigned long required, ReleaseMode mode) {
  if (mode != ReleaseMode::kBuild) return found == required;
  return (found >> 28) == (required >> 28) && found >= required;
}

bool CurlPasses(unsigned int found, unsigned int required, ReleaseMode mode) {
  if (mode != ReleaseMode::kBuild) return found == required;
  return (found >> 16) == (required >> 16) && found >= required;
}

}  // namespace

ReleaseMode ConfiguredReleaseMode() {
  return static_cast<ReleaseMode>(VANTA_REQUIRED_RELEASES_MODE);
}

Releases RequiredReleases(ReleaseMode mode) {
  if (mode == ReleaseMode::kVendor) return Releases{0x1010107FUL, 0x074600u};  // 1.1.1g, 7.70.0
  return Releases{OPENSSL_VERSION_NUMBER, LIBCURL_VERSION_NUM};
}

Releases RuntimeReleases(ReleaseMode mode) {
  Releases runtime{OpenSSL_version_num(), 0};
  if (OpensslPasses(runtime.openssl, RequiredReleases(mode).openssl, mode)) {
    runtime.curl = curl_version_info(CURLVERSION_NOW)->version_num;
  }
  return runtime;
}

ErrorCode CheckReleases(const Releases& runtime, ReleaseMode mode) {
  const Releases required = RequiredReleases(mode);
  if (!OpensslPasses(runtime.openssl, required.openssl, mode) ||
      !CurlPasses(runtime.curl, required.curl, mode)) {
    return WS_ERROR_LIBRARY_VERSION;
  }
  return WS_SUCCESS;
}

}  // namespace vanta
