// What tests put in place of the operating system: a TestEnv installs
// itself as the library's Env for its lifetime and forwards every call to
// the system's, except what the test sets. A TraceLog records the trace.
#ifndef VANTA_TESTS_SUPPORT_TEST_ENV_H_
#define VANTA_TESTS_SUPPORT_TEST_ENV_H_

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Env.h"
#include "vanta/WebService.h"

// windows.h, when a test included it, names ReplaceFileA so; Env's is meant.
#undef ReplaceFile

namespace vanta {
namespace testing {

class TestEnv : public EnvWrapper {
 public:
  TestEnv() : EnvWrapper(Env::Get()), previous_(Env::SetForTesting(this)) {}
  ~TestEnv() override { Env::SetForTesting(previous_); }

  // The value the library reads for name (nullopt: unset); names never set
  // here read the process environment.
  void SetVariable(const std::string& name, std::optional<std::string> value) {
    std::lock_guard<std::mutex> lock(mu_);
    variables_[name] = std::move(value);
  }
  // Waits return at once and are recorded as sleeps; on_sleep, when set,
  // runs first on the waiting thread (it may raise the wait's cancellation).
  std::vector<unsigned> Sleeps() const {
    std::lock_guard<std::mutex> lock(mu_);
    return sleeps_;
  }
  void ClearSleeps() {
    std::lock_guard<std::mutex> lock(mu_);
    sleeps_.clear();
  }
  std::function<void(unsigned)> on_sleep;
  // The next reading of the clock, and every one after it, runs this much
  // further ahead of real time.
  std::atomic<unsigned> clock_jump_ms{0};
  std::optional<AdapterAddress> adapter;     // instead of the machine's
  std::optional<std::string> hardware_uuid;  // instead of the machine's
  // Names of files (the path's last part) that count as another user's:
  // every file and lock call on them gives kOfAnotherUser. Set before the
  // library runs.
  std::set<std::string> files_of_another_user;
  std::optional<std::string> web_api_origin;
  std::optional<std::string> trusted_roots_pem;

  uint64_t NowMillis() override {
    std::lock_guard<std::mutex> lock(mu_);
    clock_ahead_ += clock_jump_ms.exchange(0);
    return target()->NowMillis() + clock_ahead_;
  }
  bool WaitMillis(unsigned milliseconds, Cancellation* cancel) override {
    if (on_sleep) on_sleep(milliseconds);
    std::lock_guard<std::mutex> lock(mu_);
    sleeps_.push_back(milliseconds);
    return cancel != nullptr && cancel->IsCancelled();
  }
  std::optional<std::string> GetVariable(const char* name) override {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = variables_.find(name);
    return it != variables_.end() ? it->second : target()->GetVariable(name);
  }
  FileResult ReadFile(const std::string& path, size_t limit, std::string* data) override {
    return OfAnotherUser(path) ? FileResult::kOfAnotherUser : target()->ReadFile(path, limit, data);
  }
  FileResult ReplaceFile(const std::string& path, const std::string& data) override {
    return OfAnotherUser(path) ? FileResult::kOfAnotherUser : target()->ReplaceFile(path, data);
  }
  FileResult PrepareOutputFile(const std::string& path) override {
    return OfAnotherUser(path) ? FileResult::kOfAnotherUser : target()->PrepareOutputFile(path);
  }
  LockAttempt TryLockFile(const std::string& path) override {
    if (!OfAnotherUser(path)) return target()->TryLockFile(path);
    return LockAttempt{LockAttempt::Status::kOfAnotherUser, nullptr};
  }
  AdapterAddress FirstAdapterAddress() override {
    return adapter ? *adapter : target()->FirstAdapterAddress();
  }
  bool HardwareUuid(std::string* text) override {
    if (!hardware_uuid) return target()->HardwareUuid(text);
    *text = *hardware_uuid;
    return true;
  }
  std::optional<std::string> WebApiOrigin() override { return web_api_origin; }
  std::optional<std::string> TrustedRootsPem() override { return trusted_roots_pem; }

 private:
  bool OfAnotherUser(const std::string& path) const {
    return files_of_another_user.count(path.substr(path.find_last_of("/\\") + 1)) != 0;
  }

  Env* const previous_;
  mutable std::mutex mu_;
  std::map<std::string, std::optional<std::string>> variables_;
  std::vector<unsigned> sleeps_;
  uint64_t clock_ahead_ = 0;
};

// Records every trace line while it exists.
class TraceLog {
 public:
  TraceLog() { SetTraceHandler(&TraceLog::Record, this); }
  ~TraceLog() { SetTraceHandler(nullptr, nullptr); }

  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> lock(mu_);
    return lines_;
  }
  // The lines that contain text.
  std::vector<std::string> With(const std::string& text) const {
    std::vector<std::string> found;
    for (const std::string& line : Lines()) {
      if (line.find(text) != std::string::npos) found.push_back(line);
    }
    return found;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mu_);
    lines_.clear();
  }

 private:
  static void Record(const char* line, void* context) {
    TraceLog* log = static_cast<TraceLog*>(context);
    std::lock_guard<std::mutex> lock(log->mu_);
    log->lines_.push_back(line);
  }
  mutable std::mutex mu_;
  std::vector<std::string> lines_;
};

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_SUPPORT_TEST_ENV_H_
