// How the command writes a result code for people.
#ifndef VANTA_TOOLS_DESCRIBE_CODE_H_
#define VANTA_TOOLS_DESCRIBE_CODE_H_

#include <string>

#include "vanta/ErrorCode.h"

namespace vanta {
namespace tools {

// "0xAC40C811 WS_ERROR_SERVER_RESULT_10": the code in upper-case hex with
// eight digits, followed by its WS_ name when the library defines the code.
std::string DescribeCode(ErrorCode code);

}  // namespace tools
}  // namespace vanta

#endif  // VANTA_TOOLS_DESCRIBE_CODE_H_
