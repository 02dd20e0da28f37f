// What the negotiation runner's tests share: a fresh temporary directory,
// the fake interpreter as ComSpec, a scripted first adapter, recorded
// sleeps and trace, and a local peer that stands in for the dispatcher and
// the web API, answering every step with success until told otherwise.
#ifndef VANTA_TESTS_ACCESSOR_RUNNER_FIXTURE_H_
#define VANTA_TESTS_ACCESSOR_RUNNER_FIXTURE_H_

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/LocalPeer.h"
#include "tests/support/TestEnv.h"
#include "vanta/WebServiceAccessor.h"

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
std::string Utf16(const std::string& text);

// True when process pid has ended (it may still wait to be reaped).
bool ProcessEnded(int pid);

class RunnerTest : public ::testing::Test {
 protected:
  static constexpr const char* kUuid = "4C4C4544-0042-3510-8051-B4C04F564433";
  static constexpr const char* kAddress = "00-1A-2B-3C-4D-5E";

  void SetUp() override;
  void TearDown() override;

  // Initializes accessor for the peer (token "t0", key value "k0") and
  // starts it, with the records cleared.
  void Start(WebServiceAccessor& accessor, bool token_first);
  // A fresh peer that answers every request with success.
  LocalPeer& NewPeer();

  // The bytes that the interpreter writes to the UUID file (nullopt: none).
  void SetUuidBytes(const std::optional<std::string>& bytes);
  std::string ExpectedDeviceId() const { return std::string(kUuid) + "-" + kAddress; }
  std::string TempPath(const std::string& name) const;
  std::optional<std::string> ReadTemp(const std::string& name) const;
  void WriteTemp(const std::string& name, const std::string& text) const;
  // The member key of the JSON body of every request to path, in turn.
  std::vector<std::string> Sent(const std::string& path, const std::string& key) const;

  // The retry waits of a step that made n attempts (n at most 3).
  static std::vector<unsigned> WaitsBefore(size_t n);
  // The codes the runs ended with, from the trace.
  std::vector<std::string> Results() const;

  TestEnv env_;
  TraceLog trace_;
  std::string dir_;
  std::unique_ptr<LocalPeer> peer_;
};

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_ACCESSOR_RUNNER_FIXTURE_H_
