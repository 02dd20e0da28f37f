#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "tests/platform/ScopedEnv.h"

namespace vanta {
namespace {

TEST(PlatformTest, TempDirectoryPrefersTempThenTmpdir) {
  // TEMP, TMPDIR and the directory they give.
  const std::tuple<std::optional<std::string>, std::optional<std::string>, std::string> rows[] = {
      {"/t1", "/t2", "/t1"},
      {std::nullopt, "/t2", "/t2"},
      {"", "/t2", "/t2"},
      {std::nullopt, std::nullopt, "/tmp"}};
  for (const auto& [temp, tmpdir, expected] : rows) {
    testing::ScopedEnv temp_env("TEMP", temp);
    testing::ScopedEnv tmpdir_env("TMPDIR", tmpdir);
    EXPECT_EQ(platform::TempFilePath("key.tmp"), expected + "/key.tmp");
  }
}

}  // namespace
}  // namespace vanta
