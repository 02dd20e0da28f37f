#include "service/ReleaseGate.h"

#include <gtest/gtest.h>

namespace vanta {
namespace {

TEST(ReleaseGateTest, OnlyTheExactReleasesPass) {
  const Releases vendor{0x1010107FUL, 0x074600u};
  struct Row {
    Releases runtime;
    uint32_t expected;
  };
  const Row rows[] = {
      {{0x1010107FUL, 0x074600u}, WS_SUCCESS},
      {{0x1010108FUL, 0x074600u}, WS_ERROR_LIBRARY_VERSION},  // OpenSSL 1.1.1h
      {{0x1010106FUL, 0x074600u}, WS_ERROR_LIBRARY_VERSION},  // 1.1.1f
      {{0x1010107FUL, 0x074700u}, WS_ERROR_LIBRARY_VERSION},  // libcurl 7.71.0
      {{0x1010107FUL, 0x074500u}, WS_ERROR_LIBRARY_VERSION},  // 7.69.0
      {{0x1010107FUL, 0u}, WS_ERROR_LIBRARY_VERSION},         // libcurl not asked
      {{0x30000160UL, 0x075801u}, WS_ERROR_LIBRARY_VERSION},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(CheckReleases(row.runtime, vendor).GetValue(), row.expected)
        << std::hex << row.runtime.openssl << " " << row.runtime.curl;
  }
}

TEST(ReleaseGateTest, RunTimeLibrariesAreAskedInOrder) {
  const Releases required = RequiredReleases();
  const Releases runtime = RuntimeReleases(required);
  EXPECT_EQ(runtime.openssl, required.openssl);
  EXPECT_EQ(runtime.curl, required.curl);
  EXPECT_EQ(CheckReleases(runtime, required), WS_SUCCESS);

  // libcurl is not asked once OpenSSL differs.
  const Releases other_openssl{required.openssl + 0x10, required.curl};
  const Releases refused = RuntimeReleases(other_openssl);
  EXPECT_EQ(refused.openssl, required.openssl);
  EXPECT_EQ(refused.curl, 0u);
  EXPECT_EQ(CheckReleases(refused, other_openssl), WS_ERROR_LIBRARY_VERSION);
}

}  // namespace
}  // namespace vanta
