// What the negotiation runner's tests share: a fresh temporary directory,
// the fake interpreter as ComSpec, a scripted first adapter, recorded
// sleeps and trace, and a local peer that stands in for the dispatcher and
// the web API, answering every step with success until told otherwise.
#ifndef VANTA_TESTS_ACCESSOR_RUNNER_FIXTURE_H_
#define VANTA_TESTS_ACCESSOR_RUNNER_FIXTURE_H_

#include <gtest/gtest.h>
#include <picojson.h>

#if defined(_WIN32)
#include <winsock2.h>  // before windows.h, as the local peer's server needs

#include <windows.h>
#else
#include <signal.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
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
inline const std::vector<std::pair<std::string, Answer>> kAllOk = {
    {kTokenPath, Reply(R"({"status":"ok","token":"T1","zuc_key_value":"K1"})")},
    {kAccessPath, Reply(R"({"status":"ok","access_token":"A1"})")},
    {kGamePath,
     Reply(R"({"status":"ok","gameid":"g","ipv4":"10.1.2.3","ipv6":"fe80::1",)"
           R"("control_port":11,"video_port":12,"audio_port":13,"input_port":14,)"
           R"("key1":"k-1","key2":"k-2","config":{"version":1,)"
           R"("audio":[{"level":0,"bitrate":96}],)"
           R"("video":[{"level":0,"fps":30,"resolutionRatio":50,"bitrateRatio":40}]}})")},
    {kRegisterPath, Reply(R"({"status":0,"message":""})")},
};

// Text as UTF-16 little endian.
inline std::string Utf16(const std::string& text) {
  std::string out;
  for (char c : text) out += std::string(1, c) + '\0';
  return out;
}

// True when process pid has ended (it may still wait to be reaped).
inline bool ProcessEnded(int pid) {
#if defined(_WIN32)
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  const bool ended = process == nullptr || WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  if (process != nullptr) CloseHandle(process);
  return ended;
#else
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string number, command, state;
  return kill(pid, 0) != 0 || (stat >> number >> command >> state && state == "Z");
#endif
}

class RunnerTest : public ::testing::Test {
 protected:
  static constexpr const char* kUuid = "4C4C4544-0042-3510-8051-B4C04F564433";
  static constexpr const char* kAddress = "00-1A-2B-3C-4D-5E";

  void SetUp() override {
    const auto base = std::filesystem::temp_directory_path();
    for (int i = 0; dir_.empty() || !std::filesystem::create_directory(dir_); ++i) {
      ASSERT_LT(i, 100);
      dir_ = (base / ("vanta-runner-" + std::to_string(std::rand()))).string();
    }
    env_.SetVariable("TEMP", dir_);
    env_.SetVariable("ComSpec", VANTA_FAKE_INTERPRETER);
    env_.adapter =
        AdapterAddress{AdapterAddress::Status::kOk, 6, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}};
    WriteTemp("uuid-bytes", "\xFF\xFE" + Utf16("UUID  \r\n" + std::string(kUuid) + "  \r\n"));
    NewPeer();
  }
  void TearDown() override {
    peer_.reset();
    std::filesystem::remove_all(dir_);
  }

  // A fresh peer that answers every request with success.
  LocalPeer& NewPeer() {
    peer_.reset();
    peer_ = std::make_unique<LocalPeer>();
    for (const auto& [path, answer] : kAllOk) peer_->SetAnswer(path, answer);
    env_.web_api_origin = peer_->Url("");
    return *peer_;
  }
  // Initializes accessor for the peer (token "t0", key value "k0") and
  // starts it, with the records cleared and its states recorded.
  void Start(WebServiceAccessor& accessor, bool token_first) {
    Prepare(accessor, token_first);
    ASSERT_EQ(accessor.Start(), WS_SUCCESS);
  }
  void Prepare(WebServiceAccessor& accessor, bool token_first) {
    {
      std::lock_guard<std::mutex> lock(states_mu_);
      states_.clear();  // before Initialize, whose IDLE the handler must not see
    }
    ASSERT_EQ(accessor.Initialize(3, "t0", peer_->Url("/dispatcher/").c_str(), 5, 6, "game",
                                  token_first, "k0", 1, 0, 1, 0, 1, 601),
              WS_SUCCESS);
    accessor.SetStateHandler(&RunnerTest::RecordState, this);
    env_.ClearSleeps();
    trace_.Clear();
  }
  // What a run published, in one line: its states, its waits and the key
  // file after it.
  std::string Published() const {
    std::string line;
    for (int state : States()) line += std::to_string(state) + " ";
    line += "/";
    for (unsigned ms : env_.Sleeps()) line += " " + std::to_string(ms);
    return line + " / " + ReadTemp("key.tmp").value_or("none");
  }
  // Waits for the run's end and checks that its state and result agree with
  // its states and report; then Published and its report (Describe).
  std::string Finish(WebServiceAccessor& accessor) {
    ErrorCode result = 1;
    EXPECT_TRUE(accessor.WaitFor(-1, &result));
    const std::vector<StepReport> report = accessor.GetRunReport();
    const std::string line = Published() + " / " + Describe(report);
    EXPECT_EQ(accessor.GetState(), States().empty() ? -1 : States().back()) << line;
    EXPECT_EQ(result, accessor.GetState() == 4 ? ErrorCode(WS_SUCCESS)
                      : report.empty()         ? ErrorCode(WS_ERROR_ABORTED)
                                               : report.back().code)
        << line;
    return line;
  }
  // The states the state handler saw, in order.
  std::vector<int> States() const {
    std::lock_guard<std::mutex> lock(states_mu_);
    return states_;
  }

  std::string ExpectedDeviceId() const { return std::string(kUuid) + "-" + kAddress; }
  std::string TempPath(const std::string& name) const {
    return (std::filesystem::path(dir_) / name).string();
  }
  std::optional<std::string> ReadTemp(const std::string& name) const {
    std::ifstream in(TempPath(name), std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void WriteTemp(const std::string& name, const std::string& text) const {
    std::ofstream(TempPath(name), std::ios::binary) << text;
  }
  // The member key of the JSON body of every request to path, in turn.
  std::vector<std::string> Sent(const std::string& path, const std::string& key) const {
    std::vector<std::string> values;
    for (const RecordedRequest& request : peer_->RequestsTo(path)) {
      picojson::value body;
      picojson::parse(body, request.body);
      values.push_back(body.get(key).to_str());
    }
    return values;
  }
  // A run report in one line: per step, its name and, where they tell
  // something, its attempts ("x2"), its code unless a success, its detail in
  // parentheses and its last exchange: address (without its loopback origin
  // and "/dispatcher/request_"), HTTP status, "cancelled" or "error", the
  // server's result and message, and the excerpt of an unreadable answer.
  std::string Describe(const std::vector<StepReport>& report) const {
    std::string line;
    for (const StepReport& s : report) {
      const ExchangeReport& x = s.last;
      line += (line.empty() ? "" : " | ") + std::string(StepName(s.step));
      if (s.attempts > 0) line += " x" + std::to_string(s.attempts);
      if (s.code.IsFailure()) line += std::string(" ") + s.code.Name();
      if (!s.detail.empty()) line += " (" + s.detail + ")";
      if (!x.method.empty()) line += " " + x.address + " " + std::to_string(x.http_status);
      if (!x.transport_error.empty())
        line += x.transport_error == "cancelled" ? " cancelled" : " error";
      if (!x.server_result.empty())
        line += " result " + x.server_result + " \"" + x.server_message + "\"";
      if (!x.answer_excerpt.empty()) line += " excerpt \"" + x.answer_excerpt + "\"";
    }
    const std::regex origin("https?://127\\.0\\.0\\.1:[0-9]+(/dispatcher/request_)?");
    return std::regex_replace(line, origin, "");
  }
  static void RecordState(WebServiceAccessor::State::type state, void* context) {
    RunnerTest* test = static_cast<RunnerTest*>(context);
    std::lock_guard<std::mutex> lock(test->states_mu_);
    test->states_.push_back(state);
  }

  TestEnv env_;
  TraceLog trace_;
  mutable std::mutex states_mu_;
  std::vector<int> states_;
  std::string dir_;
  std::unique_ptr<LocalPeer> peer_;
};

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_ACCESSOR_RUNNER_FIXTURE_H_
