#include "service/WebServiceImpl.h"

#include "messages/Accesstoken.h"
#include "messages/Gameservice.h"
#include "messages/LauncherMonitor.h"
#include "messages/SendDeviceId.h"
#include "messages/Token.h"
#include "service/Codes.h"
#include "service/WebServiceHttp.h"

namespace vanta {

WebServiceImpl::WebServiceImpl() : http(nullptr) {}

WebServiceImpl::~WebServiceImpl() = default;

ErrorCode WebServiceImpl::Attach(WebServiceHttp* transport) {
  if (transport == nullptr) return WS_ERROR_NO_TRANSPORT;
  http = transport;
  return WS_SUCCESS;
}

ErrorCode WebServiceImpl::Post(const std::string& url, const std::string& body,
                               std::string& response, ExchangeReport* report) {
  if (http == nullptr) return WS_ERROR_NO_TRANSPORT;
  return Normalize(http->PostJson(url, body, response, report));
}

ErrorCode WebServiceImpl::RequestToken(const std::string& url, int client_version,
                                       const std::string& gameid, int try_count,
                                       std::string& response, ExchangeReport* report) {
  return Post(url, TokenRequestBody(client_version, gameid, try_count), response, report);
}

ErrorCode WebServiceImpl::RequestAccesstoken(const std::string& url, int client_version,
                                             const std::string& token,
                                             const std::string& zuc_key_value, int try_count,
                                             std::string& response, ExchangeReport* report) {
  return Post(url, AccesstokenRequestBody(client_version, token, zuc_key_value, try_count),
              response, report);
}

ErrorCode WebServiceImpl::RequestGameservice(const std::string& url, int client_version,
                                             const std::string& access_token, int video_profile,
                                             int audio_profile, int io_mouse, int io_touch,
                                             int io_keyboard, int io_sensor, int io_gamepad,
                                             int yuv_itu_r_bt, int try_count,
                                             const WebService::ClientEnvironmentInfo& env,
                                             std::string& response, ExchangeReport* report) {
  return Post(url,
              GameserviceRequestBody(client_version, access_token, video_profile, audio_profile,
                                     io_mouse, io_touch, io_keyboard, io_sensor, io_gamepad,
                                     yuv_itu_r_bt, try_count, env),
              response, report);
}

ErrorCode WebServiceImpl::LauncherMonitorPut(const std::string& url, int slotid,
                                             int capture_down_time, int heartbeat_down_time,
                                             int handling_down_time, int client_delay,
                                             const std::string& remote_ip, int remote_port,
                                             std::string& response, ExchangeReport* report) {
  if (http == nullptr) return WS_ERROR_NO_TRANSPORT;
  const std::string query =
      LauncherMonitorQuery(slotid, capture_down_time, heartbeat_down_time, handling_down_time,
                           client_delay, remote_ip, remote_port);
  return Normalize(http->RequestRest(url, query, response, report));
}

ErrorCode WebServiceImpl::SendDeviceId(const std::string& url, const std::string& zu_key_value,
                                       const std::string& device_id,
                                       const std::string& request_type,
                                       const std::string& client_version, std::string& response,
                                       ExchangeReport* report) {
  return Post(url, SendDeviceIdRequestBody(zu_key_value, device_id, request_type, client_version),
              response, report);
}

}  // namespace vanta
