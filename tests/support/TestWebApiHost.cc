#include "tests/support/TestWebApiHost.h"

#include <mutex>

#include "service/WebApiHost.h"

namespace vanta {
namespace {

std::mutex mu;
// Port 1 on loopback: nothing listens there, so a test that does not set
// the origin fails fast with a refused connection and never leaves the
// machine.
std::string origin = "https://127.0.0.1:1";

}  // namespace

std::string WebApiOrigin() {
  std::lock_guard<std::mutex> lock(mu);
  return origin;
}

namespace testing {

void SetWebApiOriginForTesting(const std::string& value) {
  std::lock_guard<std::mutex> lock(mu);
  origin = value;
}

}  // namespace testing
}  // namespace vanta
