// The request stages of every endpoint: each builds its request, refuses
// with WS_ERROR_NO_TRANSPORT when no transport is attached, and sends it; a
// transport failure is returned unchanged, anything else as 0. Each passes
// report (may be null) to the transport, which describes the exchange in it.
#ifndef VANTA_SERVICE_WEB_SERVICE_IMPL_H_
#define VANTA_SERVICE_WEB_SERVICE_IMPL_H_

#include <string>

#include "vanta/ErrorCode.h"
#include "vanta/WebService.h"

namespace vanta {

class WebServiceHttp;

class WebServiceImpl {
 public:
  WebServiceImpl();
  WebServiceImpl(const WebServiceImpl&) = delete;
  WebServiceImpl& operator=(const WebServiceImpl&) = delete;
  // Releases nothing: the transport is not this object's.
  virtual ~WebServiceImpl();

  // Attaches the transport, which must outlive this object. A null
  // transport gives WS_ERROR_NO_TRANSPORT and changes nothing.
  ErrorCode Attach(WebServiceHttp* transport);

  ErrorCode RequestToken(const std::string& url, int client_version, const std::string& gameid,
                         int try_count, std::string& response, ExchangeReport* report);
  ErrorCode RequestAccesstoken(const std::string& url, int client_version, const std::string& token,
                               const std::string& zuc_key_value, int try_count,
                               std::string& response, ExchangeReport* report);
  ErrorCode RequestGameservice(const std::string& url, int client_version,
                               const std::string& access_token, int video_profile,
                               int audio_profile, int io_mouse, int io_touch, int io_keyboard,
                               int io_sensor, int io_gamepad, int yuv_itu_r_bt, int try_count,
                               const WebService::ClientEnvironmentInfo& env, std::string& response,
                               ExchangeReport* report);
  // A GET of url with the report's query over the kept-alive connection.
  ErrorCode LauncherMonitorPut(const std::string& url, int slotid, int capture_down_time,
                               int heartbeat_down_time, int handling_down_time, int client_delay,
                               const std::string& remote_ip, int remote_port, std::string& response,
                               ExchangeReport* report);
  ErrorCode SendDeviceId(const std::string& url, const std::string& zu_key_value,
                         const std::string& device_id, const std::string& request_type,
                         const std::string& client_version, std::string& response,
                         ExchangeReport* report);

 private:
  // POSTs body to url: WS_ERROR_NO_TRANSPORT without a transport, else the
  // transport's failure or 0.
  ErrorCode Post(const std::string& url, const std::string& body, std::string& response,
                 ExchangeReport* report);

  WebServiceHttp* http;
};

}  // namespace vanta

#endif  // VANTA_SERVICE_WEB_SERVICE_IMPL_H_
