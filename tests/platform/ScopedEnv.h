// Sets (nullopt: unsets) one environment variable until the object goes.
#ifndef VANTA_TESTS_PLATFORM_SCOPED_ENV_H_
#define VANTA_TESTS_PLATFORM_SCOPED_ENV_H_

#include <cstdlib>
#include <optional>
#include <string>

namespace vanta {
namespace testing {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  void Set(const std::optional<std::string>& value) {
    value ? setenv(name_.c_str(), value->c_str(), 1) : unsetenv(name_.c_str());
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_PLATFORM_SCOPED_ENV_H_
