#include "platform/Env.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#endif

#include <filesystem>
#include <iterator>
#include <string>

namespace vanta {
namespace {

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
  ASSERT_EQ(env->ReplaceFile(path, "old"), FileResult::kOk);
  rlimit before;
  getrlimit(RLIMIT_FSIZE, &before);
  rlimit small = before;
  small.rlim_cur = 4;
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  const FileResult replaced = env->ReplaceFile(path, "a much longer new key");
  setrlimit(RLIMIT_FSIZE, &before);
  signal(SIGXFSZ, old_handler);

  EXPECT_EQ(replaced, FileResult::kFailed);
  std::string data;
  ASSERT_EQ(env->ReadFile(path, 100, &data), FileResult::kOk);
  EXPECT_EQ(data, "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
  std::filesystem::remove_all(dir);
#endif
}

}  // namespace
}  // namespace vanta
