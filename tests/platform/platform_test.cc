#include "platform/Platform.h"

#include <gtest/gtest.h>
#include <net/if.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/platform/ScopedEnv.h"

namespace vanta {
namespace {

using testing::ScopedEnv;

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(PlatformTest, TempDirectoryPrefersTempThenTmpdir) {
  struct Row {
    std::optional<std::string> temp, tmpdir;
    std::string expected;
  };
  const Row rows[] = {{"/t1", "/t2", "/t1"},
                      {std::nullopt, "/t2", "/t2"},
                      {"", "/t2", "/t2"},
                      {std::nullopt, std::nullopt, "/tmp"}};
  for (const Row& row : rows) {
    ScopedEnv temp("TEMP", row.temp);
    ScopedEnv tmpdir("TMPDIR", row.tmpdir);
    EXPECT_EQ(platform::TempDirectory(), row.expected);
    EXPECT_EQ(platform::TempFilePath("key.tmp"), row.expected + "/key.tmp");
  }
}

TEST(PlatformTest, NarrowToWideKeepsBytesWithinTheBound) {
  std::wstring wide = L"untouched";
  EXPECT_FALSE(platform::NarrowToWide(std::string(256, 'a'), &wide));
  EXPECT_EQ(wide, L"untouched");
  ASSERT_TRUE(platform::NarrowToWide(std::string(254, 'a') + "\xE9", &wide));
  EXPECT_EQ(wide.size(), 255u);
  EXPECT_EQ(wide.back(), L'\xE9');
}

// The program gets the line's words as they are: no shell, blanks split.
TEST(PlatformTest, RunProcessSplitsAtBlanksAndWaits) {
  char dir_template[] = "/tmp/vanta-platform-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::filesystem::path dir = dir_template;
  const std::string script = (dir / "show").string();
  std::ofstream(script) << "#!/bin/sh\nsleep 0.2\nprintf '%s|' \"$@\" > " << (dir / "out").string()
                        << "\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);

  std::wstring line;
  ASSERT_TRUE(platform::NarrowToWide(" " + script + "  /C a\tb > $HOME ", &line));
  EXPECT_TRUE(platform::RunProcessAndWait(line));
  EXPECT_EQ(ReadText(dir / "out"), "/C|a|b|>|$HOME|");

  EXPECT_FALSE(platform::RunProcessAndWait(L"/nonexistent/program /C"));
  EXPECT_FALSE(platform::RunProcessAndWait(L"  "));
  std::filesystem::remove_all(dir);
}

// The same choice made from /sys/class/net: lowest index, not loopback,
// with a hardware address.
TEST(PlatformTest, FirstAdapterIsTheLowestIndexedNonLoopbackWithAnAddress) {
  int best_index = 0;
  std::string best_address;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/class/net")) {
    unsigned long flags = std::strtoul(ReadText(entry.path() / "flags").c_str(), nullptr, 16);
    int index = std::atoi(ReadText(entry.path() / "ifindex").c_str());
    std::string address = ReadText(entry.path() / "address");
    address = address.substr(0, address.find('\n'));
    if ((flags & IFF_LOOPBACK) != 0 || address.empty()) continue;
    if (best_address.empty() || index < best_index) {
      best_index = index;
      best_address = address;
    }
  }
  platform::AdapterAddress first = platform::FirstAdapterAddress();
  if (best_address.empty()) {
    EXPECT_EQ(first.status, platform::AdapterAddress::Status::kUnreadable);
    return;
  }
  ASSERT_EQ(first.status, platform::AdapterAddress::Status::kOk);
  std::string got;
  for (int i = 0; i < first.length; ++i) {
    char part[4];
    std::snprintf(part, sizeof(part), i == 0 ? "%02x" : ":%02x", first.bytes[i]);
    got += part;
  }
  EXPECT_EQ(got, best_address);
}

}  // namespace
}  // namespace vanta
