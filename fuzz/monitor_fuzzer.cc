// The launcher monitor answer check on arbitrary bytes: it has no failure
// branch of its own, so only 0 and the bad-answer code may come out, the
// same bytes always give the same code, and the verdict is that of the
// tree-reading reference.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/Invariant.h"
#include "fuzz/Reference.h"
#include "messages/LauncherMonitor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string response(reinterpret_cast<const char*>(data), size);
  const vanta::ErrorCode code = vanta::CodeOf(vanta::ParseLauncherMonitorResponse(response));
  VANTA_FUZZ_CHECK(code == vanta::WS_SUCCESS || code == vanta::WS_ERROR_BAD_RESPONSE);
  VANTA_FUZZ_CHECK(vanta::CodeOf(vanta::ParseLauncherMonitorResponse(response)) == code);
  VANTA_FUZZ_CHECK(
      vanta::fuzz::SameVerdict(vanta::ParseLauncherMonitorResponse(response),
                               vanta::reference::ParseLauncherMonitorResponse(response)));
  return 0;
}
