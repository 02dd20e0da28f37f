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
#include <string>
#include <vector>

#include "platform/Env.h"

namespace vanta {
namespace testing {

class TestEnv : public EnvWrapper {
 public:
  TestEnv();
  ~TestEnv() override;

  // The value the library reads for name (nullopt: unset); names never set
  // here read the process environment.
  void SetVariable(const std::string& name, std::optional<std::string> value);

  // Sleeps return at once and are recorded; on_sleep, when set, runs first
  // on the sleeping thread.
  std::vector<unsigned> Sleeps() const;
  void ClearSleeps();
  std::function<void(unsigned)> on_sleep;

  // Each reading of the clock runs this much further ahead of real time.
  std::atomic<unsigned> clock_step_ms{0};

  std::optional<AdapterAddress> adapter;  // instead of the machine's
  std::optional<std::string> web_api_origin;
  std::optional<std::string> trusted_roots_pem;

  uint64_t NowMillis() override;
  void SleepMillis(unsigned milliseconds) override;
  std::optional<std::string> GetVariable(const char* name) override;
  AdapterAddress FirstAdapterAddress() override;
  std::optional<std::string> WebApiOrigin() override { return web_api_origin; }
  std::optional<std::string> TrustedRootsPem() override { return trusted_roots_pem; }

 private:
  Env* const previous_;
  mutable std::mutex mu_;
  std::map<std::string, std::optional<std::string>> variables_;
  std::vector<unsigned> sleeps_;
  uint64_t clock_ahead_ = 0;
};

// Records every trace line while it exists.
class TraceLog {
 public:
  TraceLog();
  ~TraceLog();

  std::vector<std::string> Lines() const;
  // The states of the "state N ..." lines, in order.
  std::vector<int> States() const;
  // The lines that contain text.
  std::vector<std::string> With(const std::string& text) const;
  void Clear();

 private:
  static void Record(const char* line, void* context);
  mutable std::mutex mu_;
  std::vector<std::string> lines_;
};

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_SUPPORT_TEST_ENV_H_
