#include "tools/describe_code.h"

#include <cstdio>

namespace vanta {
namespace tools {

std::string DescribeCode(ErrorCode code) {
  char hex[16];
  std::snprintf(hex, sizeof(hex), "0x%08X", static_cast<unsigned>(code.GetValue()));
  return std::string(hex) + " " + code.Name();
}

}  // namespace tools
}  // namespace vanta
