#include "tools/describe_code.h"

#include <cstdio>

#include "service/Codes.h"

namespace vanta {
namespace tools {

std::string DescribeCode(ErrorCode code) {
  char hex[16];
  std::snprintf(hex, sizeof(hex), "0x%08X", static_cast<unsigned>(code.GetValue()));
  std::string text = hex;
  if (const char* name = CodeName(code)) {
    text += ' ';
    text += name;
  }
  return text;
}

}  // namespace tools
}  // namespace vanta
