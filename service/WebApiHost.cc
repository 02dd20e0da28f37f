#include "service/WebApiHost.h"

namespace vanta {

std::string WebApiOrigin() { return "https://" VANTA_WEB_API_HOST; }

}  // namespace vanta
