// The temporary files and the UUID query on a machine shared with someone
// hostile: planted objects, leaked descriptors and a query that never ends.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <functional>
#include <sstream>
#include <thread>

#include "tests/accessor/RunnerFixture.h"

namespace vanta {
namespace {

using HostileMachineTest = testing::RunnerTest;

TEST_F(HostileMachineTest, PlantedObjectsFailTheirStepAndTouchNothing) {
  using Type = std::filesystem::file_type;
  for (const std::string file : {"key.tmp", "id.tmp", "id.lock"}) {
#if defined(_WIN32)
    // Windows has no FIFOs, and creating a symbolic link takes a privilege.
    for (Type type : {Type::directory}) {
#else
    for (Type type : {Type::symlink, Type::fifo, Type::directory}) {
#endif
      const std::string name = file + " " + std::to_string(int(type)), path = TempPath(file);
      std::filesystem::remove_all(path);
      WriteTemp("victim", "SECRET");
      if (type == Type::symlink) std::filesystem::create_symlink(TempPath("victim"), path);
#if !defined(_WIN32)
      if (type == Type::fifo) {
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
      }
#endif
      if (type == Type::directory) std::filesystem::create_directory(path);
      NewPeer();
      if (file != "key.tmp") {
        std::string id, reason;
        EXPECT_FALSE(WebServiceAccessor::BuildDeviceId(&id, &reason)) << name;
        EXPECT_NE(reason.find(file), std::string::npos) << name << ": " << reason;
      } else {
        // The negotiation completes without its key file; the registration
        // on demand finds no key to send.
        WebServiceAccessor accessor;
        Start(accessor, false);
        accessor.Join(nullptr);
        EXPECT_EQ(accessor.GetState(), WebServiceAccessor::State::COMPLETE) << name;
        EXPECT_EQ(trace_.With("key file NOT written").size(), 1u) << name;
        const size_t sent = peer_->RequestsTo(testing::kRegisterPath).size();
        accessor.CreateAndSendDeviceId();
        EXPECT_EQ(peer_->RequestsTo(testing::kRegisterPath).size(), sent) << name;
      }
      EXPECT_EQ(ReadTemp("victim"), "SECRET") << name;
      EXPECT_EQ(std::filesystem::symlink_status(path).type(), type) << name;
      std::filesystem::remove_all(path);
    }
  }
}

TEST_F(HostileMachineTest, OwnerOnlyFilesAndDirectoryAndNoDescriptorInherited) {
#if defined(_WIN32)
  GTEST_SKIP() << "file modes, the user's own directory and the descriptor listing "
                  "(/proc/self/fd) are POSIX";
#else
  using Perms = std::filesystem::perms;
  // A file of the host, open without close-on-exec.
  std::FILE* secret = std::fopen(TempPath("secret").c_str(), "w");
  ASSERT_NE(secret, nullptr);
  WriteTemp("list-fds", "");
  WebServiceAccessor accessor;
  Start(accessor, false);
  accessor.Join(nullptr);
  ASSERT_EQ(accessor.GetState(), WebServiceAccessor::State::COMPLETE);
  std::fclose(secret);

  for (const std::string file : {"key.tmp", "id.tmp", "id.lock"}) {
    EXPECT_EQ(std::filesystem::status(TempPath(file)).permissions(), Perms(0600)) << file;
  }
  // Without TEMP: vanta-<uid> under TMPDIR, created owner-only and used
  // again (the library writing the UUID file); refused once open to others
  // or a symlink to a private directory.
  env_.SetVariable("TEMP", std::nullopt);
  env_.SetVariable("XDG_RUNTIME_DIR", std::nullopt);
  env_.SetVariable("TMPDIR", dir_);
  env_.SetVariable("ComSpec", std::nullopt);
  env_.hardware_uuid = kUuid;
  const std::string own = TempPath("vanta-" + std::to_string(geteuid())), mine = TempPath("mine");
  std::string id, reason;
  for (int round = 0; round < 2; ++round) {
    EXPECT_TRUE(WebServiceAccessor::BuildDeviceId(&id, &reason)) << reason;
    EXPECT_EQ(std::filesystem::symlink_status(own).permissions(), Perms(0700));
  }
  std::filesystem::create_directory(mine);
  chmod(mine.c_str(), 0700);
  const std::pair<const char*, std::function<void()> > spoilers[] = {
      {"open to others", [&] { chmod(own.c_str(), 0755); }},
      {"a symlink to a private directory",
       [&] {
         std::filesystem::remove_all(own);
         std::filesystem::create_directory_symlink(mine, own);
       }},
  };
  for (const auto& [name, spoil] : spoilers) {
    spoil();
    EXPECT_FALSE(WebServiceAccessor::BuildDeviceId(&id, &reason)) << name;
    EXPECT_NE(reason.find("own temporary directory may not be used"), std::string::npos) << reason;
  }
  // Standard input, output and error, and the listing's own directory.
  std::istringstream fds(ReadTemp("fds").value_or(""));
  int count = 0;
  for (std::string fd, target; fds >> fd >> target; ++count) {
    EXPECT_TRUE(std::stoi(fd) <= 2 || target.rfind("/proc/", 0) == 0) << fd << " " << target;
  }
  EXPECT_GE(count, 3);
#endif
}

TEST_F(HostileMachineTest, QueryThatNeverEndsIsKilledAtItsTimeLimit) {
  WriteTemp("hang", "");
  // Once the query runs (its pid is written), the clock jumps to its time
  // limit, once: a longer limit would wait for real time.
  std::thread clock_runner([this] {
    testing::Eventually([this] { return !ReadTemp("pid").value_or("").empty(); });
    env_.clock_jump_ms = 10000;
  });
  std::string id = "untouched", reason;
  EXPECT_FALSE(WebServiceAccessor::BuildDeviceId(&id, &reason));
  clock_runner.join();
  EXPECT_EQ(id, "untouched");
  EXPECT_NE(reason.find("did not end within 10 s"), std::string::npos) << reason;
  EXPECT_TRUE(testing::ProcessEnded(std::stoi(ReadTemp("pid").value())));
}

}  // namespace
}  // namespace vanta
