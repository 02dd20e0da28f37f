#include "vanta/WebService.h"

#include <memory>
#include <new>

#include "core/NoThrow.h"
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

// Without memory for the default addresses (their strings are made here,
// before the setter's own guard) they stay empty, and requests fail on them.
WebService::WebService() {
  try {
    uri_launcher_monitor_put = kDefaultLauncherMonitor;
    SetUrlArbiterBase(kDefaultArbiterBase);
  } catch (const std::bad_alloc&) {
  }
}

WebService::WebService(const WebService& other) = default;

WebService& WebService::operator=(const WebService& other) = default;

// The members would release http before impl; Terminate keeps impl first.
WebService::~WebService() { Terminate(); }

ErrorCode WebService::Initialize() {
  return NoThrow([this]() -> ErrorCode {
    if (impl != nullptr || http != nullptr) return WS_ERROR_ALREADY_INITIALIZED;
    // Locals release in reverse order: new_impl before new_http.
    std::shared_ptr<WebServiceHttp> new_http = std::make_shared<WebServiceHttp>();
    const ReleaseMode mode = ConfiguredReleaseMode();
    const ErrorCode gate = CheckReleases(RuntimeReleases(mode), mode);
    if (gate.IsFailure()) return gate;
    std::shared_ptr<WebServiceImpl> new_impl = std::make_shared<WebServiceImpl>();
    const ErrorCode attached = new_impl->Attach(new_http.get());
    if (attached.IsFailure()) return attached;
    new_http->SetCancellation(cancel);
    impl = std::move(new_impl);
    http = std::move(new_http);
    return WS_SUCCESS;
  });
}

void WebService::Terminate() {
  impl.reset();
  http.reset();
}

bool WebService::IsInitialized() const { return impl != nullptr && http != nullptr; }

// The setters change all of their addresses or, without memory for the new
// ones, none.
void WebService::SetUrlArbiterBase(const std::string& base) {
  NoThrow([&] {
    std::string token = base + "request_token";
    std::string accesstoken = base + "request_accesstoken";
    std::string gameservice = base + "request_gameservice";
    url_arbiter_base = base;
    url_request_token.swap(token);
    url_request_accesstoken.swap(accesstoken);
    url_request_gameservice.swap(gameservice);
    return ErrorCode(WS_SUCCESS);
  });
}

void WebService::SetUrlSendDeviceId() {
  NoThrow([this] {
    SetUrlSendDeviceId(Env::Get()->WebApiOrigin().value_or("https://" VANTA_WEB_API_HOST));
    return ErrorCode(WS_SUCCESS);
  });
}

void WebService::SetUrlSendDeviceId(const std::string& origin) {
  NoThrow([&] {
    url_send_device_id = origin + kSendDeviceIdPath;
    return ErrorCode(WS_SUCCESS);
  });
}

void WebService::SetUriRequestLauncherMonitorPut(const std::string& uri) {
  NoThrow([&] {
    uri_launcher_monitor_put = uri;
    return ErrorCode(WS_SUCCESS);
  });
}

ErrorCode WebService::SetUriRequestLauncherMonitorPut(const std::string& scheme,
                                                      const std::string& host, int port,
                                                      const std::string& path) {
  return NoThrow([&]() -> ErrorCode {
    if (scheme != "http://" && scheme != "https://") return WS_ERROR_FAILED;
    uri_launcher_monitor_put = scheme + host + ":" + std::to_string(port) + "/" + path;
    return WS_SUCCESS;
  });
}

ErrorCode WebService::RequestJsonRpc(const std::string& url, const std::string& body,
                                     std::string& response) {
  last_exchange = ExchangeReport{};
  return Finish(NoThrow([&]() -> ErrorCode {
    if (http == nullptr) return WS_ERROR_FAILED;
    return Normalize(http->PostJson(url, body, response, &last_exchange));
  }));
}

ErrorCode WebService::RequestRestRpc(const std::string& url, const std::string& query,
                                     std::string& response) {
  last_exchange = ExchangeReport{};
  return Finish(NoThrow([&]() -> ErrorCode {
    if (http == nullptr) return WS_ERROR_FAILED;
    return Normalize(http->RequestRest(url, query, response, &last_exchange));
  }));
}

const ExchangeReport& WebService::GetLastExchange() const { return last_exchange; }

void WebService::SetCancellation(Cancellation* flag) {
  cancel = flag;
  if (http != nullptr) http->SetCancellation(flag);
}

ErrorCode WebService::Finish(ErrorCode code) {
  last_exchange.code = code;
  return code;
}

bool WebService::IsServerResponse(ErrorCode code) { return IsServerResponseCode(code); }

}  // namespace vanta
