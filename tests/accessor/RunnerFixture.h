// What the negotiation runner's tests share: a fresh TEMP directory, a fake
// ComSpec interpreter that copies prepared bytes to the UUID file, a scripted
// first adapter, and records of the retry waits, states and results.
#ifndef VANTA_TESTS_ACCESSOR_RUNNER_FIXTURE_H_
#define VANTA_TESTS_ACCESSOR_RUNNER_FIXTURE_H_

#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "accessor/TestSeams.h"
#include "core/SleepHook.h"
#include "tests/platform/ScopedEnv.h"
#include "tests/support/LocalPeer.h"

namespace vanta {
namespace testing {

// The paths a run requests, with the dispatcher base "/dispatcher/" and the
// web API origin on the same peer, and answers with which every step
// succeeds, in the order of the run.
inline const std::string kTokenPath = "/dispatcher/request_token";
inline const std::string kAccessPath = "/dispatcher/request_accesstoken";
inline const std::string kGamePath = "/dispatcher/request_gameservice";
inline const std::string kRegisterPath = "/game/razever/app/APIEX/SorvaneClient/SendDeviceId";
inline const Answer kRegisterOk = Reply(R"({"status":0,"message":""})");
inline const std::vector<std::pair<std::string, Answer>> kAllOk = {
    {kTokenPath, Reply(R"({"status":"ok","token":"T1","zuc_key_value":"K1"})")},
    {kAccessPath, Reply(R"({"status":"ok","access_token":"A1"})")},
    {kGamePath, Reply(R"({"status":"ok","gameid":"g","ipv4":"10.1.2.3","ipv6":"fe80::1",)"
                      R"("control_port":11,"video_port":12,"audio_port":13,"input_port":14,)"
                      R"("key1":"k-1","key2":"k-2","config":{"version":1,)"
                      R"("audio":[{"level":0,"bitrate":96}],"video":[]}})")},
    {kRegisterPath, kRegisterOk},
};

// Text as UTF-16 little endian.
inline std::string Utf16(const std::string& text) {
  std::string out;
  for (char c : text) out += std::string(1, c) + '\0';
  return out;
}

class RunnerTest : public ::testing::Test, public AccessorObserver {
 protected:
  static constexpr const char* kUuid = "4C4C4544-0042-3510-8051-B4C04F564433";
  static constexpr const char* kAddress = "00-1A-2B-3C-4D-5E";
  static inline std::mutex mu;
  static inline std::vector<unsigned> waits;
  static inline platform::AdapterAddress adapter;  // what the adapter list gives

  void SetUp() override;
  void TearDown() override;

  void OnState(const WebServiceAccessor*, int state) override {
    std::lock_guard<std::mutex> lock(mu);
    states_.push_back(state);
  }
  void OnRunEnded(const WebServiceAccessor*, ErrorCode result) override {
    std::lock_guard<std::mutex> lock(mu);
    results_.push_back(result);
  }

  // The interpreter copies these bytes to the UUID file; nullopt: it
  // writes nothing. Removes the UUID file of an earlier query.
  void SetUuidFileBytes(const std::optional<std::string>& bytes);
  std::string ExpectedDeviceId() const { return std::string(kUuid) + "-" + kAddress; }
  std::optional<std::string> ReadTempFile(const std::string& name) const;
  void WriteTempFile(const std::string& name, const std::string& text) const;

  // The retry waits of a step that made n attempts (n at most 3).
  static std::vector<unsigned> WaitsBefore(size_t n) {
    const std::vector<unsigned> all{2000, 3000};
    return std::vector<unsigned>(all.begin(), all.begin() + (n > 1 ? n - 1 : 0));
  }
  std::vector<unsigned> Waits() const { return Locked(waits); }
  std::vector<int> States() const { return Locked(states_); }  // since ClearRecords
  std::vector<ErrorCode> Results() const { return Locked(results_); }
  void ClearRecords() {
    std::lock_guard<std::mutex> lock(mu);
    waits.clear();
    states_.clear();
    results_.clear();
  }

  std::string dir_;

 private:
  template <typename T>
  static T Locked(const T& value) {
    std::lock_guard<std::mutex> lock(mu);
    return value;
  }
  std::vector<int> states_;
  std::vector<ErrorCode> results_;
  ScopedEnv temp_{"TEMP", std::nullopt};
  ScopedEnv comspec_{"ComSpec", std::nullopt};
};

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_ACCESSOR_RUNNER_FIXTURE_H_
