#include "service/WebServiceImpl.h"

namespace vanta {

WebServiceImpl::WebServiceImpl() : http(nullptr) {}

WebServiceImpl::~WebServiceImpl() { http = nullptr; }

ErrorCode WebServiceImpl::Attach(WebServiceHttp* transport) {
  if (transport == nullptr) return WS_ERROR_NO_TRANSPORT;
  http = transport;
  return WS_SUCCESS;
}

}  // namespace vanta
