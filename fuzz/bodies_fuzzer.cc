// The request body builders on arbitrary arguments: every body is byte for
// byte the text that the tree-building reference writes. The bytes give the
// integers, the strings (any bytes, NUL, control bytes and 0x7F included)
// and up to 40 environment entries, whose keys are short so that they often
// collide, whole or cut at a NUL.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/Invariant.h"
#include "fuzz/Reference.h"
#include "messages/Accesstoken.h"
#include "messages/Gameservice.h"
#include "messages/SendDeviceId.h"
#include "messages/Token.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  int numbers[10];
  for (int& n : numbers) n = in.ConsumeIntegral<int>();
  std::string texts[4];
  for (std::string& t : texts) t = in.ConsumeRandomLengthString(64);
  vanta::WebService::ClientEnvironmentInfo env;
  const int entries = in.ConsumeIntegralInRange(0, 40);
  for (int i = 0; i < entries && in.remaining_bytes() > 0; ++i) {
    std::string key = in.ConsumeRandomLengthString(4);
    env.entries[key] = in.ConsumeRandomLengthString(16);
  }

  VANTA_FUZZ_CHECK(vanta::TokenRequestBody(numbers[0], texts[0], numbers[1]) ==
                   vanta::reference::TokenRequestBody(numbers[0], texts[0], numbers[1]));
  VANTA_FUZZ_CHECK(
      vanta::AccesstokenRequestBody(numbers[0], texts[0], texts[1], numbers[1]) ==
      vanta::reference::AccesstokenRequestBody(numbers[0], texts[0], texts[1], numbers[1]));
  VANTA_FUZZ_CHECK(vanta::GameserviceRequestBody(numbers[0], texts[0], numbers[1], numbers[2],
                                                 numbers[3], numbers[4], numbers[5], numbers[6],
                                                 numbers[7], numbers[8], numbers[9], env) ==
                   vanta::reference::GameserviceRequestBody(
                       numbers[0], texts[0], numbers[1], numbers[2], numbers[3], numbers[4],
                       numbers[5], numbers[6], numbers[7], numbers[8], numbers[9], env));
  VANTA_FUZZ_CHECK(
      vanta::SendDeviceIdRequestBody(texts[0], texts[1], texts[2], texts[3]) ==
      vanta::reference::SendDeviceIdRequestBody(texts[0], texts[1], texts[2], texts[3]));
  return 0;
}
