#include "vanta/WebService.h"

#include <memory>
#include <new>

#include "platform/Env.h"
#include "service/Codes.h"
#include "service/ReleaseGate.h"
#include "service/WebServiceHttp.h"
#include "service/WebServiceImpl.h"

#if !defined(VANTA_WEB_API_HOST)
#error "VANTA_WEB_API_HOST comes from the build setting of the same name"
#endif

namespace vanta {

namespace {

const char kDefaultArbiterBase[] = "http://127.0.0.1:8081/dispatcher/";
const char kDefaultLauncherMonitor[] = "http://127.0.0.1:7999/monitor/put";
const char kSendDeviceIdPath[] = "/game/razever/app/APIEX/SorvaneClient/SendDeviceId";

}  // namespace

const int WebService::MAX_QUALITY_SETTING_LEVEL = 8;

WebService::WebService() : uri_launcher_monitor_put(kDefaultLauncherMonitor) {
  SetUrlArbiterBase(kDefaultArbiterBase);
}

WebService::WebService(const WebService& other) = default;

WebService& WebService::operator=(const WebService& other) = default;

// The members would release http before impl; Terminate keeps impl first.
WebService::~WebService() { Terminate(); }

ErrorCode WebService::Initialize() {
  if (impl != nullptr || http != nullptr) return WS_ERROR_ALREADY_INITIALIZED;
  // Running out of memory is handled here and nowhere else in the library.
  // Locals release in reverse order: new_impl before new_http.
  std::shared_ptr<WebServiceHttp> new_http;
  try {
    new_http = std::make_shared<WebServiceHttp>();
  } catch (const std::bad_alloc&) {
    return WS_ERROR_OUT_OF_MEMORY;
  }
  const ReleaseMode mode = ConfiguredReleaseMode();
  const ErrorCode gate = CheckReleases(RuntimeReleases(mode), mode);
  if (gate.IsFailure()) return gate;
  std::shared_ptr<WebServiceImpl> new_impl;
  try {
    new_impl = std::make_shared<WebServiceImpl>();
  } catch (const std::bad_alloc&) {
    return WS_ERROR_OUT_OF_MEMORY;
  }
  const ErrorCode attached = new_impl->Attach(new_http.get());
  if (attached.IsFailure()) return attached;
  impl = std::move(new_impl);
  http = std::move(new_http);
  return WS_SUCCESS;
}

void WebService::Terminate() {
  impl.reset();
  http.reset();
}

bool WebService::IsInitialized() const { return impl != nullptr && http != nullptr; }

void WebService::SetUrlArbiterBase(const std::string& base) {
  url_arbiter_base = base;
  url_request_token = base + "request_token";
  url_request_accesstoken = base + "request_accesstoken";
  url_request_gameservice = base + "request_gameservice";
}

void WebService::SetUrlSendDeviceId() {
  url_send_device_id =
      Env::Get()->WebApiOrigin().value_or("https://" VANTA_WEB_API_HOST) + kSendDeviceIdPath;
}

void WebService::SetUriRequestLauncherMonitorPut(const std::string& uri) {
  uri_launcher_monitor_put = uri;
}

ErrorCode WebService::SetUriRequestLauncherMonitorPut(const std::string& scheme,
                                                      const std::string& host, int port,
                                                      const std::string& path) {
  if (scheme != "http://" && scheme != "https://") return WS_ERROR_FAILED;
  uri_launcher_monitor_put = scheme + host + ":" + std::to_string(port) + "/" + path;
  return WS_SUCCESS;
}

ErrorCode WebService::RequestJsonRpc(const std::string& url, const std::string& body,
                                     std::string& response) {
  if (http == nullptr) return WS_ERROR_FAILED;
  return Normalize(http->PostJson(url, body, response));
}

ErrorCode WebService::RequestRestRpc(const std::string& url, const std::string& query,
                                     std::string& response) {
  if (http == nullptr) return WS_ERROR_FAILED;
  return Normalize(http->RequestRest(url, query, response));
}

bool WebService::IsServerResponse(ErrorCode code) { return IsServerResponseCode(code); }

}  // namespace vanta
