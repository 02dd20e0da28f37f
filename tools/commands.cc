#include "tools/commands.h"

#include <cstdio>

#include "tools/describe_code.h"

namespace vanta {
namespace tools {

int FailWithCode(const char* command, const char* what, ErrorCode code) {
  std::fprintf(stderr, "vanta %s: %s: %s\n", command, what, DescribeCode(code).c_str());
  return kExitFailed;
}

}  // namespace tools
}  // namespace vanta
