// The request_token answer check on arbitrary bytes: both outputs are
// written together on success and not at all on failure, and verdict and
// outputs are those of the tree-reading reference.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "fuzz/Invariant.h"
#include "fuzz/Reference.h"
#include "messages/Token.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string response(reinterpret_cast<const char*>(data), size);
  using Outputs = std::pair<std::string, std::string>;  // token, zuc_key_value
  vanta::fuzz::CheckAllOrNothing(
      Outputs("token a", "key a"), Outputs("token b", "key b"), [&](Outputs& out) {
        return vanta::CodeOf(vanta::ParseTokenResponse(response, out.first, out.second));
      });
  vanta::fuzz::CheckSameAsReference(
      Outputs("token a", "key a"),
      [&](Outputs& out) { return vanta::ParseTokenResponse(response, out.first, out.second); },
      [&](Outputs& out) {
        return vanta::reference::ParseTokenResponse(response, out.first, out.second);
      });
  return 0;
}
