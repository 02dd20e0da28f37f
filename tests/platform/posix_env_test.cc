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

class PosixEnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ =
        std::filesystem::path(::testing::TempDir()) / ("vanta-posix-" + std::to_string(getpid()));
    std::filesystem::remove_all(base_);
    std::filesystem::create_directories(base_);
  }
  void TearDown() override { std::filesystem::remove_all(base_); }

  std::filesystem::path base_;
};

// With TEMP and XDG_RUNTIME_DIR unset, vanta-<uid> under TMPDIR: created
// owner-only, used again as it is, refused once open to others or replaced
// by a symlink to a private directory or by a file.
TEST_F(PosixEnvTest, OwnDirectoryIsCreatedPrivateAndJudgedEachTime) {
  testing::TestEnv env;
  env.SetVariable("TEMP", std::nullopt);
  env.SetVariable("XDG_RUNTIME_DIR", std::nullopt);
  env.SetVariable("TMPDIR", base_.string());
  const std::filesystem::path own = base_ / ("vanta-" + std::to_string(geteuid()));
  const std::filesystem::path elsewhere = base_ / "elsewhere";
  std::filesystem::create_directory(elsewhere);
  chmod(elsewhere.c_str(), 0700);
  struct Step {
    const char* name;
    void (*prepare)(const std::filesystem::path& own, const std::filesystem::path& elsewhere);
    std::string refusal;  // what follows the path; "" when usable
  } steps[] = {
      {"missing: created", [](auto&, auto&) {}, ""},
      {"present: used", [](auto&, auto&) {}, ""},
      {"open to others", [](auto& own, auto&) { chmod(own.c_str(), 0755); },
       "gives group or other users access"},
      {"a symlink",
       [](auto& own, auto& elsewhere) {
         std::filesystem::remove_all(own);
         std::filesystem::create_directory_symlink(elsewhere, own);
       },
       "is a symbolic link"},
      {"a file",
       [](auto& own, auto&) {
         std::filesystem::remove(own);
         std::ofstream(own.string()) << "x";
         chmod(own.c_str(), 0600);
       },
       "is not a directory"},
  };
  for (const Step& step : steps) {
    step.prepare(own, elsewhere);
    const TempDir dir = TempDirectory();
    EXPECT_EQ(dir.path, own.string()) << step.name;
    EXPECT_EQ(dir.refusal, step.refusal.empty() ? "" : own.string() + " " + step.refusal)
        << step.name;
    struct stat info;
    ASSERT_EQ(lstat(own.c_str(), &info), 0) << step.name;
    if (step.refusal.empty()) {
      EXPECT_EQ(info.st_mode & 0777, 0700u) << step.name;
    }
  }
}

// Files of another user at the paths are reported as such and left as
// they are, whatever the call.
TEST_F(PosixEnvTest, FilesOfAnotherUserAreLeftAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  const uid_t other = 65534;
  Env* env = Env::Get();
  const std::string path = (base_ / "theirs").string();
  struct Call {
    const char* name;
    bool (*refused)(Env* env, const std::string& path);
  } calls[] = {
      {"read",
       [](Env* env, const std::string& path) {
         std::string data = "untouched";
         return env->ReadFile(path, 100, &data) == FileResult::kOfAnotherUser &&
                data == "untouched";
       }},
      {"replace",
       [](Env* env, const std::string& path) {
         return env->ReplaceFile(path, "mine") == FileResult::kOfAnotherUser;
       }},
      {"prepare",
       [](Env* env, const std::string& path) {
         return env->PrepareOutputFile(path) == FileResult::kOfAnotherUser;
       }},
      {"lock",
       [](Env* env, const std::string& path) {
         return env->TryLockFile(path).status == LockAttempt::Status::kOfAnotherUser;
       }},
  };
  for (const Call& call : calls) {
    ASSERT_EQ(env->ReplaceFile(path, "their key"), FileResult::kOk);
    ASSERT_EQ(chown(path.c_str(), other, other), 0);
    EXPECT_TRUE(call.refused(env, path)) << call.name;
    std::string data;
    ASSERT_EQ(chown(path.c_str(), 0, 0), 0);
    ASSERT_EQ(env->ReadFile(path, 100, &data), FileResult::kOk);
    EXPECT_EQ(data, "their key") << call.name;
  }
}

}  // namespace
}  // namespace vanta
