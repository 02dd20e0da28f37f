#include "tests/accessor/RunnerFixture.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "core/SleepHook.h"

namespace vanta {
namespace testing {

namespace {

std::mutex mu;
std::vector<unsigned> waits;

void RecordWait(unsigned ms) {
  std::lock_guard<std::mutex> lock(mu);
  waits.push_back(ms);
}

platform::AdapterAddress ScriptedAdapter() { return scripted_adapter; }

}  // namespace

std::string Utf16(const std::string& text) {
  std::string out;
  for (char c : text) out += std::string(1, c) + '\0';
  return out;
}

platform::AdapterAddress scripted_adapter;

class RunnerTest::Recorder : public AccessorObserver {
 public:
  void OnState(const WebServiceAccessor*, int state) override {
    std::lock_guard<std::mutex> lock(mu);
    states.push_back(state);
  }
  void OnRunEnded(const WebServiceAccessor*, ErrorCode result) override {
    std::lock_guard<std::mutex> lock(mu);
    results.push_back(result);
  }
  std::vector<int> states;
  std::vector<ErrorCode> results;
};

RunnerTest::RunnerTest() = default;
RunnerTest::~RunnerTest() = default;

void RunnerTest::SetUp() {
  char dir_template[] = "/tmp/vanta-runner-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  dir_ = dir_template;
  const std::string script = dir_ + "/interpreter";
  std::ofstream(script) << "#!/bin/sh\nprintf '%s|' \"$@\" > " << dir_ << "/arguments\n"
                        << "[ -f " << dir_ << "/uuid-bytes ] && cp " << dir_
                        << "/uuid-bytes \"$7\"\n"
                        << "exit 0\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  temp_ = std::make_unique<ScopedEnv>("TEMP", dir_);
  comspec_ = std::make_unique<ScopedEnv>("ComSpec", script);
  SetUuidFileBytes("\xFF\xFE" + Utf16("UUID  \r\n" + std::string(kUuid) + "  \r\n"));
  adapter = platform::AdapterAddress();
  adapter.status = platform::AdapterAddress::Status::kOk;
  adapter.length = 6;
  const unsigned char bytes[] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  std::copy(bytes, bytes + 6, adapter.bytes);
  recorder_ = std::make_unique<Recorder>();
  SetAccessorObserverForTesting(recorder_.get());
  SetAdapterSourceForTesting(ScriptedAdapter);
  SetSleepFunctionForTesting(RecordWait);
  ClearRecords();
}

void RunnerTest::TearDown() {
  SetAccessorObserverForTesting(nullptr);
  SetAdapterSourceForTesting(nullptr);
  SetSleepFunctionForTesting(nullptr);
  comspec_.reset();
  temp_.reset();
  std::filesystem::remove_all(dir_);
}

void RunnerTest::SetUuidFileBytes(const std::optional<std::string>& bytes) {
  std::filesystem::remove(dir_ + "/id.tmp");
  if (bytes) {
    WriteTempFile("uuid-bytes", *bytes);
  } else {
    std::filesystem::remove(dir_ + "/uuid-bytes");
  }
}

std::optional<std::string> RunnerTest::ReadTempFile(const std::string& name) const {
  std::ifstream in(dir_ + "/" + name, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void RunnerTest::WriteTempFile(const std::string& name, const std::string& text) const {
  std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
}

std::vector<unsigned> RunnerTest::Waits() const {
  std::lock_guard<std::mutex> lock(mu);
  return waits;
}

std::vector<int> RunnerTest::States() const {
  std::lock_guard<std::mutex> lock(mu);
  return recorder_->states;
}

std::vector<ErrorCode> RunnerTest::Results() const {
  std::lock_guard<std::mutex> lock(mu);
  return recorder_->results;
}

void RunnerTest::ClearRecords() {
  std::lock_guard<std::mutex> lock(mu);
  waits.clear();
  recorder_->states.clear();
  recorder_->results.clear();
}

}  // namespace testing
}  // namespace vanta
