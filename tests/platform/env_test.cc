#include "platform/Env.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>

#include "tests/support/TestEnv.h"

namespace vanta {
namespace {

TEST(EnvTest, TempDirectoryPrefersTempThenTmpdir) {
  testing::TestEnv env;
#if defined(_WIN32)
  // Windows reads TEMP only and joins with a backslash.
  const std::pair<std::optional<std::string>, std::string> windows_rows[] = {
      {"C:\\t1", "C:\\t1\\key.tmp"}, {"", "\\key.tmp"}, {std::nullopt, "\\key.tmp"}};
  env.SetVariable("TMPDIR", "C:\\t2");
  for (const auto& [temp, expected] : windows_rows) {
    env.SetVariable("TEMP", temp);
    EXPECT_EQ(TempFilePath("key.tmp"), expected);
  }
#else
  // TEMP, TMPDIR and the directory they give.
  const std::tuple<std::optional<std::string>, std::optional<std::string>, std::string> rows[] = {
      {"/t1", "/t2", "/t1"},
      {std::nullopt, "/t2", "/t2"},
      {"", "/t2", "/t2"},
      {std::nullopt, std::nullopt, "/tmp"}};
  for (const auto& [temp, tmpdir, expected] : rows) {
    env.SetVariable("TEMP", temp);
    env.SetVariable("TMPDIR", tmpdir);
    EXPECT_EQ(TempFilePath("key.tmp"), expected + "/key.tmp");
  }
#endif
}

// The system's environment: a variable set to "" is not an unset one.
TEST(EnvTest, VariablesSetEmptyAndUnsetDiffer) {
  const char* name = "VANTA_ENV_TEST_VARIABLE";
  const std::optional<std::string> rows[] = {std::string(100, 'v'), "", std::nullopt};
  for (const std::optional<std::string>& value : rows) {
#if defined(_WIN32)
    SetEnvironmentVariableA(name, value ? value->c_str() : nullptr);
#else
    if (value) setenv(name, value->c_str(), 1);
    if (!value) unsetenv(name);
#endif
    EXPECT_EQ(Env::Get()->GetVariable(name), value) << value.value_or("unset");
  }
}

// A write that fails half way (here: the file size limit of a full disk)
// leaves the old file whole and no stray file beside it.
TEST(EnvTest, ReplaceFileReplacesWholeOrNotAtAll) {
#if defined(_WIN32)
  GTEST_SKIP() << "needs a file size limit (setrlimit), which Windows lacks";
#else
  const std::filesystem::path dir =
      std::filesystem::path(::testing::TempDir()) / ("vanta-env-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "key.tmp").string();
  Env* env = Env::Get();
  ASSERT_TRUE(env->ReplaceFile(path, "old"));

  rlimit before;
  getrlimit(RLIMIT_FSIZE, &before);
  rlimit small = before;
  small.rlim_cur = 4;
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  const bool replaced = env->ReplaceFile(path, "a much longer new key");
  setrlimit(RLIMIT_FSIZE, &before);
  signal(SIGXFSZ, old_handler);

  EXPECT_FALSE(replaced);
  std::string data;
  ASSERT_TRUE(env->ReadFile(path, 100, &data));
  EXPECT_EQ(data, "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
  ASSERT_TRUE(env->ReplaceFile(path, "new"));
  ASSERT_TRUE(env->ReadFile(path, 2, &data));
  EXPECT_EQ(data, "ne");
  std::filesystem::remove_all(dir);
#endif
}

}  // namespace
}  // namespace vanta
