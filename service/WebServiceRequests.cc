// The endpoint operations of WebService: each runs its request stage
// (WebServiceImpl) and then its answer check (messages/).
#include <string>

#include "core/Trace.h"
#include "messages/Accesstoken.h"
#include "messages/Gameservice.h"
#include "messages/LauncherMonitor.h"
#include "messages/SendDeviceId.h"
#include "messages/Token.h"
#include "service/Codes.h"
#include "service/WebServiceImpl.h"
#include "vanta/WebService.h"

namespace vanta {

namespace {

// The code of an answer check, with a trace line for a refusal.
ErrorCode Judge(const char* request, const Verdict& verdict) {
  if (verdict.kind == Verdict::Kind::kRefused && trace::Enabled()) {
    trace::Emit(
        std::string(request) + " refused: result " + std::to_string(verdict.status) +
        (verdict.message.empty() ? "" : ", message \"" + trace::Printable(verdict.message) + "\""));
  }
  return Normalize(CodeOf(verdict));
}

}  // namespace

ErrorCode WebService::RequestZuToken(int client_version, const std::string& gameid, int try_count,
                                     std::string& token, std::string& zuc_key_value) {
  if (!IsInitialized()) return WS_ERROR_FAILED;
  std::string response;
  ErrorCode code =
      impl->RequestToken(url_request_token, client_version, gameid, try_count, response);
  if (code.IsFailure()) return code;
  return Judge("request_token", ParseTokenResponse(response, token, zuc_key_value));
}

ErrorCode WebService::RequestZuAccesstoken(int client_version, const std::string& token,
                                           const std::string& zuc_key_value, int try_count,
                                           std::string& access_token) {
  if (!IsInitialized()) return WS_ERROR_FAILED;
  std::string response;
  ErrorCode code = impl->RequestAccesstoken(url_request_accesstoken, client_version, token,
                                            zuc_key_value, try_count, response);
  if (code.IsFailure()) return code;
  return Judge("request_accesstoken", ParseAccesstokenResponse(response, access_token));
}

ErrorCode WebService::RequestZuGameservice(int client_version, const std::string& access_token,
                                           int video_profile, int audio_profile, int io_mouse,
                                           int io_touch, int io_keyboard, int io_sensor,
                                           int io_gamepad, int yuv_itu_r_bt, int try_count,
                                           const ClientEnvironmentInfo& env, std::string& ipv4,
                                           std::string& ipv6, int& control_port, int& video_port,
                                           int& audio_port, int& input_port, std::string& key1,
                                           std::string& key2, QualityParams& quality) {
  if (!IsInitialized()) return WS_ERROR_FAILED;
  std::string response;
  ErrorCode code = impl->RequestGameservice(
      url_request_gameservice, client_version, access_token, video_profile, audio_profile, io_mouse,
      io_touch, io_keyboard, io_sensor, io_gamepad, yuv_itu_r_bt, try_count, env, response);
  if (code.IsFailure()) return code;
  return Judge("request_gameservice",
               ParseGameserviceResponse(response, ipv4, ipv6, control_port, video_port, audio_port,
                                        input_port, key1, key2, quality));
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
  if (code.IsFailure()) return code;
  return Judge("monitor report", ParseLauncherMonitorResponse(response));
}

ErrorCode WebService::RequestSendDeviceId(const std::string& zu_key_value,
                                          const std::string& device_id, std::string* response,
                                          int* status, const std::string& request_type,
                                          const std::string& client_version) {
  if (!IsInitialized() || response == nullptr || status == nullptr) return WS_ERROR_FAILED;
  std::string text;
  ErrorCode code = impl->SendDeviceId(url_send_device_id, zu_key_value, device_id, request_type,
                                      client_version, text);
  *response = text;
  if (code.IsFailure()) return code;
  return Judge("registration", ParseSendDeviceIdResponse(text, *status));
}

}  // namespace vanta
