#include "tests/support/TestEnv.h"

#include <cstdio>

#include "vanta/WebService.h"

namespace vanta {
namespace testing {

TestEnv::TestEnv() : EnvWrapper(Env::Get()), previous_(Env::SetForTesting(this)) {}

TestEnv::~TestEnv() { Env::SetForTesting(previous_); }

void TestEnv::SetVariable(const std::string& name, std::optional<std::string> value) {
  std::lock_guard<std::mutex> lock(mu_);
  variables_[name] = std::move(value);
}

std::vector<unsigned> TestEnv::Sleeps() const {
  std::lock_guard<std::mutex> lock(mu_);
  return sleeps_;
}

void TestEnv::ClearSleeps() {
  std::lock_guard<std::mutex> lock(mu_);
  sleeps_.clear();
}

uint64_t TestEnv::NowMillis() {
  std::lock_guard<std::mutex> lock(mu_);
  clock_ahead_ += clock_step_ms;
  return target()->NowMillis() + clock_ahead_;
}

void TestEnv::SleepMillis(unsigned milliseconds) {
  if (on_sleep) on_sleep(milliseconds);
  std::lock_guard<std::mutex> lock(mu_);
  sleeps_.push_back(milliseconds);
}

std::optional<std::string> TestEnv::GetVariable(const char* name) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = variables_.find(name);
  return it != variables_.end() ? it->second : target()->GetVariable(name);
}

AdapterAddress TestEnv::FirstAdapterAddress() {
  return adapter ? *adapter : target()->FirstAdapterAddress();
}

TraceLog::TraceLog() { SetTraceHandler(&TraceLog::Record, this); }

TraceLog::~TraceLog() { SetTraceHandler(nullptr, nullptr); }

void TraceLog::Record(const char* line, void* context) {
  TraceLog* log = static_cast<TraceLog*>(context);
  std::lock_guard<std::mutex> lock(log->mu_);
  log->lines_.push_back(line);
}

std::vector<std::string> TraceLog::Lines() const {
  std::lock_guard<std::mutex> lock(mu_);
  return lines_;
}

std::vector<int> TraceLog::States() const {
  std::vector<int> states;
  for (const std::string& line : Lines()) {
    int state = 0;
    if (std::sscanf(line.c_str(), "state %d", &state) == 1) states.push_back(state);
  }
  return states;
}

std::vector<std::string> TraceLog::With(const std::string& text) const {
  std::vector<std::string> found;
  for (const std::string& line : Lines()) {
    if (line.find(text) != std::string::npos) found.push_back(line);
  }
  return found;
}

void TraceLog::Clear() {
  std::lock_guard<std::mutex> lock(mu_);
  lines_.clear();
}

}  // namespace testing
}  // namespace vanta
