// The device identifier registration answer check on arbitrary bytes: the
// status is written exactly when the server refused, the code is then the
// mapping of the status written, and verdict and status are those of the
// tree-reading reference.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/Invariant.h"
#include "fuzz/Reference.h"
#include "messages/SendDeviceId.h"
#include "service/Codes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string response(reinterpret_cast<const char*>(data), size);
  const int start_a = 0x5A5A5A5A;
  const int start_b = -0x2B2B2B2B;
  int status_a = start_a;
  int status_b = start_b;
  const vanta::ErrorCode code = vanta::CodeOf(vanta::ParseSendDeviceIdResponse(response, status_a));
  VANTA_FUZZ_CHECK(vanta::CodeOf(vanta::ParseSendDeviceIdResponse(response, status_b)) == code);
  VANTA_FUZZ_CHECK(vanta::fuzz::IsAnswerCode(code));
  if (vanta::fuzz::IsServerStatusCode(code)) {
    VANTA_FUZZ_CHECK(status_a == status_b);
    VANTA_FUZZ_CHECK(status_a != 0);
    VANTA_FUZZ_CHECK(vanta::MapServerStatus(status_a) == code);
  } else {
    VANTA_FUZZ_CHECK(status_a == start_a);
    VANTA_FUZZ_CHECK(status_b == start_b);
  }
  vanta::fuzz::CheckSameAsReference(
      start_a, [&](int& status) { return vanta::ParseSendDeviceIdResponse(response, status); },
      [&](int& status) { return vanta::reference::ParseSendDeviceIdResponse(response, status); });
  return 0;
}
