#include "messages/LauncherMonitor.h"

#include <cstdint>

#include "core/Result.h"
#include "messages/Json.h"
#include "service/WebServiceHttp.h"
#include "service/WebServiceImpl.h"

namespace vanta {

namespace {

// Signed decimal text: no fill, no "+", "-" for negative values.
std::string Decimal(int value) { return std::to_string(static_cast<int64_t>(value)); }

}  // namespace

std::string LauncherMonitorQuery(int slotid, int capture_down_time, int heartbeat_down_time,
                                 int handling_down_time, int client_delay,
                                 const std::string& remote_ip, int remote_port) {
  return "slotid=" + Decimal(slotid) + "&capture_down_time=" + Decimal(capture_down_time) +
         "&heartbeat_down_time=" + Decimal(heartbeat_down_time) +
         "&handling_down_time=" + Decimal(handling_down_time) +
         "&client_delay=" + Decimal(client_delay) +
         "&remote_ip=" + (remote_ip.empty() ? std::string("none") : remote_ip) +
         "&remote_port=" + Decimal(remote_port);
}

ErrorCode WebServiceImpl::LauncherMonitorPut(const std::string& url, int slotid,
                                             int capture_down_time, int heartbeat_down_time,
                                             int handling_down_time, int client_delay,
                                             const std::string& remote_ip, int remote_port,
                                             std::string& response) {
  std::string query =
      LauncherMonitorQuery(slotid, capture_down_time, heartbeat_down_time, handling_down_time,
                           client_delay, remote_ip, remote_port);
  if (http == nullptr) return WS_ERROR_NO_TRANSPORT;
  return Normalize(http->RequestRest(url, query, response));
}

ErrorCode ParseLauncherMonitorResponse(const std::string& response) {
  picojson::value root;
  ErrorCode code = json::ParseObject(response, root);
  if (code != WS_SUCCESS) return code;
  const std::string* status = json::Find<std::string>(root.get<picojson::object>(), "status");
  return status != nullptr && *status == "ok" ? WS_SUCCESS : WS_ERROR_BAD_RESPONSE;
}

ErrorCode WebService::RequestLauncherMonitorPut(int slotid, int capture_down_time,
                                                int heartbeat_down_time, int handling_down_time,
                                                int client_delay, const std::string& remote_ip,
                                                int remote_port) {
  if (!IsInitialized()) return WS_ERROR_FAILED;
  std::string response;
  ErrorCode code = impl->LauncherMonitorPut(uri_launcher_monitor_put, slotid, capture_down_time,
                                            heartbeat_down_time, handling_down_time, client_delay,
                                            remote_ip, remote_port, response);
  if (IsFailure(code)) return code;
  return Normalize(ParseLauncherMonitorResponse(response));
}

ErrorCode WebService::SetUriRequestLauncherMonitorPut(const std::string& scheme,
                                                      const std::string& host, int port,
                                                      const std::string& path) {
  if (scheme != "http://" && scheme != "https://") return WS_ERROR_FAILED;
  uri_launcher_monitor_put = scheme + host + ":" + Decimal(port) + "/" + path;
  return WS_SUCCESS;
}

}  // namespace vanta
