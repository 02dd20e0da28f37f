#include "tests/accessor/RunnerFixture.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace vanta {
namespace testing {

void RunnerTest::SetUp() {
  char dir_template[] = "/tmp/vanta-runner-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  dir_ = dir_template;
  std::ofstream(dir_ + "/interpreter")
      << "#!/bin/sh\nprintf '%s|' \"$@\" > " << dir_ << "/arguments\n[ -f " << dir_
      << "/uuid-bytes ] && cp " << dir_ << "/uuid-bytes \"$7\"\nexit 0\n";
  std::filesystem::permissions(dir_ + "/interpreter", std::filesystem::perms::owner_all);
  temp_.Set(dir_);
  comspec_.Set(dir_ + "/interpreter");
  SetUuidFileBytes("\xFF\xFE" + Utf16("UUID  \r\n" + std::string(kUuid) + "  \r\n"));
  adapter = {platform::AdapterAddress::Status::kOk, 6, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}};
  SetAccessorObserverForTesting(this);
  SetAdapterSourceForTesting([] { return adapter; });
  SetSleepFunctionForTesting([](unsigned ms) {
    std::lock_guard<std::mutex> lock(mu);
    waits.push_back(ms);
  });
  ClearRecords();
}

void RunnerTest::TearDown() {
  SetAccessorObserverForTesting(nullptr);
  SetAdapterSourceForTesting(nullptr);
  SetSleepFunctionForTesting(nullptr);
  std::filesystem::remove_all(dir_);
}

void RunnerTest::SetUuidFileBytes(const std::optional<std::string>& bytes) {
  std::filesystem::remove(dir_ + "/id.tmp");
  std::filesystem::remove(dir_ + "/uuid-bytes");
  if (bytes) WriteTempFile("uuid-bytes", *bytes);
}

std::optional<std::string> RunnerTest::ReadTempFile(const std::string& name) const {
  std::ifstream in(dir_ + "/" + name, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void RunnerTest::WriteTempFile(const std::string& name, const std::string& text) const {
  std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
}

}  // namespace testing
}  // namespace vanta
