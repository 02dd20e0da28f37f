// What the negotiation runner's tests share: a fresh TEMP directory, a fake
// command interpreter (named by ComSpec) that copies prepared bytes to the
// UUID file, a scripted first adapter, and records of the retry waits and
// of every state and result the accessors publish.
#ifndef VANTA_TESTS_ACCESSOR_RUNNER_FIXTURE_H_
#define VANTA_TESTS_ACCESSOR_RUNNER_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "accessor/TestSeams.h"
#include "tests/platform/ScopedEnv.h"

namespace vanta {
namespace testing {

// Text as UTF-16 little endian.
std::string Utf16(const std::string& text);

// What the adapter list gives while a RunnerTest runs.
extern platform::AdapterAddress scripted_adapter;

class RunnerTest : public ::testing::Test {
 protected:
  RunnerTest();
  ~RunnerTest() override;

  static constexpr const char* kUuid = "4C4C4544-0042-3510-8051-B4C04F564433";
  static constexpr const char* kAddress = "00-1A-2B-3C-4D-5E";

  void SetUp() override;
  void TearDown() override;

  // The interpreter copies these bytes to the UUID file; nullopt: it
  // writes nothing. Starts as a normal output with kUuid. Removes the UUID
  // file of an earlier query.
  void SetUuidFileBytes(const std::optional<std::string>& bytes);
  std::string ExpectedDeviceId() const { return std::string(kUuid) + "-" + kAddress; }
  // Contents of a file in the TEMP directory; nullopt when absent.
  std::optional<std::string> ReadTempFile(const std::string& name) const;
  void WriteTempFile(const std::string& name, const std::string& text) const;

  std::vector<unsigned> Waits() const;
  std::vector<int> States() const;  // stores after the last ClearRecords
  std::vector<ErrorCode> Results() const;
  void ClearRecords();

  platform::AdapterAddress& adapter = scripted_adapter;
  std::string dir_;

 private:
  class Recorder;
  std::unique_ptr<Recorder> recorder_;
  std::unique_ptr<ScopedEnv> temp_;
  std::unique_ptr<ScopedEnv> comspec_;
};

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_ACCESSOR_RUNNER_FIXTURE_H_
