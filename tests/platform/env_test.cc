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
#include <iterator>
#include <optional>
#include <string>
#include <tuple>

namespace vanta {
namespace {

// Sets or (nullopt) unsets a variable of the process environment.
void SetVariable(const char* name, const std::optional<std::string>& value) {
#if defined(_WIN32)
  SetEnvironmentVariableA(name, value ? value->c_str() : nullptr);
#else
  value ? setenv(name, value->c_str(), 1) : unsetenv(name);
#endif
}

// Read from the system's environment, where a variable set to "" is not an
// unset one; Windows reads TEMP only.
TEST(EnvTest, TempDirectoryPrefersTempThenTmpdir) {
  using Text = std::optional<std::string>;
  const std::string long_name(300, 't');
  const std::tuple<Text, Text, std::string> rows[] = {
#if defined(_WIN32)
    {"C:\\" + long_name, "C:\\t2", "C:\\" + long_name + "\\key.tmp"},
    {"", "C:\\t2", "\\key.tmp"},
    {std::nullopt, "C:\\t2", "\\key.tmp"},
#else
    {"/" + long_name, "/t2", "/" + long_name + "/key.tmp"},
    {std::nullopt, "/t2", "/t2/key.tmp"},
    {"", "/t2", "/t2/key.tmp"},
    {std::nullopt, std::nullopt, "/tmp/key.tmp"},
#endif
  };
  const Text before[] = {Env::Get()->GetVariable("TEMP"), Env::Get()->GetVariable("TMPDIR")};
  for (const auto& [temp, tmpdir, expected] : rows) {
    SetVariable("TEMP", temp);
    SetVariable("TMPDIR", tmpdir);
    EXPECT_EQ(TempFilePath("key.tmp"), expected);
  }
  SetVariable("TEMP", before[0]);
  SetVariable("TMPDIR", before[1]);
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
