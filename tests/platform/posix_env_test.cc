// The POSIX backend's side of the user's own files: the directory it
// creates and judges, and files that belong to another user.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Env.h"
#include "platform/TempDir.h"
#include "tests/support/TestEnv.h"

namespace vanta {
namespace {

namespace fs = std::filesystem;

class PosixEnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(base_);
    fs::create_directories(base_);
  }
  void TearDown() override { fs::remove_all(base_); }

  const fs::path base_ =
      fs::path(::testing::TempDir()) / ("vanta-posix-" + std::to_string(getpid()));
};

// With TEMP and XDG_RUNTIME_DIR unset, vanta-<uid> under TMPDIR: created
// owner-only, used again as it is, refused once open to others, or a
// symlink to a private directory, or a file.
TEST_F(PosixEnvTest, OwnDirectoryIsCreatedPrivateAndJudgedEachTime) {
  testing::TestEnv env;
  env.SetVariable("TEMP", std::nullopt);
  env.SetVariable("XDG_RUNTIME_DIR", std::nullopt);
  env.SetVariable("TMPDIR", base_.string());
  const std::string own = (base_ / ("vanta-" + std::to_string(geteuid()))).string();
  struct stat info;
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(TempDirectory().path, own);
    EXPECT_EQ(TempDirectory().refusal, "") << round;
    ASSERT_EQ(lstat(own.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
  }
  chmod(own.c_str(), 0755);
  EXPECT_EQ(TempDirectory().refusal, own + " gives group or other users access");
  fs::remove(own);
  fs::create_directory(base_ / "private");
  chmod((base_ / "private").c_str(), 0700);
  fs::create_directory_symlink(base_ / "private", own);
  EXPECT_EQ(TempDirectory().refusal, own + " is a symbolic link");
  fs::remove(own);
  std::ofstream(own) << "x";
  EXPECT_EQ(TempDirectory().refusal, own + " is not a directory");
}

// A file of another user is reported as such by every call and left as
// it is.
TEST_F(PosixEnvTest, FilesOfAnotherUserAreLeftAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  Env* env = Env::Get();
  const std::string path = (base_ / "theirs").string();
  ASSERT_EQ(env->ReplaceFile(path, "their key"), FileResult::kOk);
  ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  std::string data = "untouched";
  EXPECT_EQ(env->ReadFile(path, 100, &data), FileResult::kOfAnotherUser);
  EXPECT_EQ(env->ReplaceFile(path, "mine"), FileResult::kOfAnotherUser);
  EXPECT_EQ(env->PrepareOutputFile(path), FileResult::kOfAnotherUser);
  EXPECT_EQ(env->TryLockFile(path).status, LockAttempt::Status::kOfAnotherUser);
  EXPECT_EQ(data, "untouched");
  std::getline(std::ifstream(path), data);
  EXPECT_EQ(data, "their key");
}

}  // namespace
}  // namespace vanta
