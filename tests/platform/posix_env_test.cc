// The POSIX backend and files that belong to another user.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/Env.h"

namespace vanta {
namespace {

// A file of another user is reported as such by every call and left as
// it is.
TEST(PosixEnvTest, FilesOfAnotherUserAreLeftAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  Env* env = Env::Get();
  const std::string path = ::testing::TempDir() + "vanta-theirs-" + std::to_string(getpid());
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
  std::remove(path.c_str());
}

}  // namespace
}  // namespace vanta
