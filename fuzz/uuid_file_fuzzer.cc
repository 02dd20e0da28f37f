// The reader of the UUID query's output on arbitrary bytes: the UUID text
// never passes its 36 characters and the same bytes always give the same
// text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "accessor/DeviceId.h"
#include "fuzz/Invariant.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string output(reinterpret_cast<const char*>(data), size);
  char first[37] = {};
  char second[37] = {};
  vanta::ParseUuidOutput(output, first);
  vanta::ParseUuidOutput(output, second);
  VANTA_FUZZ_CHECK(first[36] == '\0');
  VANTA_FUZZ_CHECK(std::memcmp(first, second, sizeof(first)) == 0);
  return 0;
}
