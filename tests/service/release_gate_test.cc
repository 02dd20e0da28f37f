#include "service/ReleaseGate.h"

#include <gtest/gtest.h>

#include <utility>

namespace vanta {
namespace {

TEST(ReleaseGateTest, OnlyTheExactReleasesPass) {
  const Releases vendor{0x1010107FUL, 0x074600u};
  const std::pair<Releases, uint32_t> rows[] = {
      {{0x1010107FUL, 0x074600u}, WS_SUCCESS},
      {{0x1010108FUL, 0x074600u}, WS_ERROR_LIBRARY_VERSION},  // OpenSSL 1.1.1h
      {{0x1010106FUL, 0x074600u}, WS_ERROR_LIBRARY_VERSION},  // 1.1.1f
      {{0x1010107FUL, 0x074700u}, WS_ERROR_LIBRARY_VERSION},  // libcurl 7.71.0
      {{0x1010107FUL, 0x074500u}, WS_ERROR_LIBRARY_VERSION},  // 7.69.0
      {{0x1010107FUL, 0u}, WS_ERROR_LIBRARY_VERSION},         // libcurl not asked
  };
  for (const auto& [runtime, expected] : rows) {
    EXPECT_EQ(CheckReleases(runtime, vendor).GetValue(), expected)
        << std::hex << runtime.openssl << " " << runtime.curl;
  }
  // The libraries this program runs with pass in build mode; libcurl is
  // not asked once OpenSSL differs.
  const Releases required = RequiredReleases();
  EXPECT_EQ(CheckReleases(RuntimeReleases(required), required), WS_SUCCESS);
  EXPECT_EQ(RuntimeReleases({required.openssl + 0x10, required.curl}).curl, 0u);
}

}  // namespace
}  // namespace vanta
