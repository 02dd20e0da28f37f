// The negotiated service as `vanta negotiate` prints it on stdout.
#ifndef VANTA_TOOLS_SERVICE_JSON_H_
#define VANTA_TOOLS_SERVICE_JSON_H_

#include <string>

#include <vanta/WebServiceAccessor.h>

namespace vanta {
namespace tools {

// The addresses, ports, keys, tokens and quality settings of accessor as an
// indented JSON object. REQUIRES: accessor's run completed.
std::string ServiceJson(const WebServiceAccessor& accessor);

}  // namespace tools
}  // namespace vanta

#endif  // VANTA_TOOLS_SERVICE_JSON_H_
