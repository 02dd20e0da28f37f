// The request_accesstoken answer check on arbitrary bytes: the access token
// is written on success and not at all on failure, and verdict and output
// are those of the tree-reading reference.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/Invariant.h"
#include "fuzz/Reference.h"
#include "messages/Accesstoken.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string response(reinterpret_cast<const char*>(data), size);
  vanta::fuzz::CheckAllOrNothing(
      std::string("access a"), std::string("access b"), [&](std::string& access_token) {
        return vanta::CodeOf(vanta::ParseAccesstokenResponse(response, access_token));
      });
  vanta::fuzz::CheckSameAsReference(
      std::string("access a"),
      [&](std::string& access_token) {
        return vanta::ParseAccesstokenResponse(response, access_token);
      },
      [&](std::string& access_token) {
        return vanta::reference::ParseAccesstokenResponse(response, access_token);
      });
  return 0;
}
