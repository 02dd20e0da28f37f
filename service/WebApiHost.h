// Origin ("https://" + host) of the web API that registers device
// identifiers. The shipped library defines it from the build setting
// VANTA_WEB_API_HOST; test programs link their own definition so that the
// registration can be pointed at a local peer.
#ifndef VANTA_SERVICE_WEB_API_HOST_H_
#define VANTA_SERVICE_WEB_API_HOST_H_

#include <string>

namespace vanta {

std::string WebApiOrigin();

}  // namespace vanta

#endif  // VANTA_SERVICE_WEB_API_HOST_H_
