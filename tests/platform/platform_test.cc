#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/platform/ScopedEnv.h"

namespace vanta {
namespace {

TEST(PlatformTest, TempDirectoryPrefersTempThenTmpdir) {
  struct Row {
    std::optional<std::string> temp, tmpdir;
    std::string expected;
  } rows[] = {{"/t1", "/t2", "/t1"},
              {std::nullopt, "/t2", "/t2"},
              {"", "/t2", "/t2"},
              {std::nullopt, std::nullopt, "/tmp"}};
  for (const Row& row : rows) {
    testing::ScopedEnv temp("TEMP", row.temp);
    testing::ScopedEnv tmpdir("TMPDIR", row.tmpdir);
    EXPECT_EQ(platform::TempFilePath("key.tmp"), row.expected + "/key.tmp");
  }
}

}  // namespace
}  // namespace vanta
