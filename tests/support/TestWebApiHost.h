// Test programs' definition of the web API origin: settable, so that the
// device identifier registration can be pointed at a local peer.
#ifndef VANTA_TESTS_SUPPORT_TEST_WEB_API_HOST_H_
#define VANTA_TESTS_SUPPORT_TEST_WEB_API_HOST_H_

#include <string>

namespace vanta {
namespace testing {

// Origin (scheme and host, e.g. "http://127.0.0.1:4321") that
// SetUrlSendDeviceId uses from now on.
void SetWebApiOriginForTesting(const std::string& origin);

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_SUPPORT_TEST_WEB_API_HOST_H_
