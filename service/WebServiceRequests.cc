// The endpoint operations of WebService: each runs its request stage
// (WebServiceImpl) and then its answer check (messages/), and describes
// both in the last exchange report.
#include <string>

#include "core/NoThrow.h"
#include "core/Printable.h"
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

// How much of a refusal's message and of an unreadable answer a report keeps.
constexpr size_t kMessageLimit = 200;
constexpr size_t kExcerptLimit = 64;

// The code of an answer check. A refusal is reported and traced with the
// server's result and message, an unreadable answer with its first bytes:
// the exchange's own trace line before it shows only the transport's code.
ErrorCode Judge(const char* request, const std::string& response, const Verdict& verdict,
                ExchangeReport* report) {
  const ErrorCode code = Normalize(CodeOf(verdict));
  if (verdict.kind == Verdict::Kind::kRefused) {
    report->server_result = std::to_string(verdict.status);
    report->server_message = Printable(verdict.message, kMessageLimit);
    if (trace::Enabled()) {
      trace::Emit(std::string(request) + " refused: result " + report->server_result +
                  (verdict.message.empty()
                       ? ""
                       : ", message \"" + trace::Printable(verdict.message) + "\""));
    }
  } else if (verdict.kind == Verdict::Kind::kMalformed) {
    report->answer_excerpt = Printable(std::string_view(response).substr(0, kExcerptLimit));
    if (trace::Enabled()) {
      trace::Emit(std::string(request) + " unreadable answer, beginning \"" +
                  report->answer_excerpt + "\": " + trace::Code(code));
    }
  }
  return code;
}

}  // namespace

ErrorCode WebService::RequestZuToken(int client_version, const std::string& gameid, int try_count,
                                     std::string& token, std::string& zuc_key_value) {
  last_exchange = ExchangeReport{};
  return Finish(NoThrow([&]() -> ErrorCode {
    if (!IsInitialized()) return WS_ERROR_FAILED;
    std::string response;
    ErrorCode code = impl->RequestToken(url_request_token, client_version, gameid, try_count,
                                        response, &last_exchange);
    if (code.IsFailure()) return code;
    return Judge("request_token", response, ParseTokenResponse(response, token, zuc_key_value),
                 &last_exchange);
  }));
}

ErrorCode WebService::RequestZuAccesstoken(int client_version, const std::string& token,
                                           const std::string& zuc_key_value, int try_count,
                                           std::string& access_token) {
  last_exchange = ExchangeReport{};
  return Finish(NoThrow([&]() -> ErrorCode {
    if (!IsInitialized()) return WS_ERROR_FAILED;
    std::string response;
    ErrorCode code = impl->RequestAccesstoken(url_request_accesstoken, client_version, token,
                                              zuc_key_value, try_count, response, &last_exchange);
    if (code.IsFailure()) return code;
    return Judge("request_accesstoken", response, ParseAccesstokenResponse(response, access_token),
                 &last_exchange);
  }));
}

ErrorCode WebService::RequestZuGameservice(int client_version, const std::string& access_token,
                                           int video_profile, int audio_profile, int io_mouse,
                                           int io_touch, int io_keyboard, int io_sensor,
                                           int io_gamepad, int yuv_itu_r_bt, int try_count,
                                           const ClientEnvironmentInfo& env, std::string& ipv4,
                                           std::string& ipv6, int& control_port, int& video_port,
                                           int& audio_port, int& input_port, std::string& key1,
                                           std::string& key2, QualityParams& quality) {
  last_exchange = ExchangeReport{};
  return Finish(NoThrow([&]() -> ErrorCode {
    if (!IsInitialized()) return WS_ERROR_FAILED;
    std::string response;
    ErrorCode code = impl->RequestGameservice(url_request_gameservice, client_version, access_token,
                                              video_profile, audio_profile, io_mouse, io_touch,
                                              io_keyboard, io_sensor, io_gamepad, yuv_itu_r_bt,
                                              try_count, env, response, &last_exchange);
    if (code.IsFailure()) return code;
    return Judge("request_gameservice", response,
                 ParseGameserviceResponse(response, ipv4, ipv6, control_port, video_port,
                                          audio_port, input_port, key1, key2, quality),
                 &last_exchange);
  }));
}

ErrorCode WebService::RequestLauncherMonitorPut(int slotid, int capture_down_time,
                                                int heartbeat_down_time, int handling_down_time,
                                                int client_delay, const std::string& remote_ip,
                                                int remote_port) {
  last_exchange = ExchangeReport{};
  return Finish(NoThrow([&]() -> ErrorCode {
    if (!IsInitialized()) return WS_ERROR_FAILED;
    std::string response;
    ErrorCode code = impl->LauncherMonitorPut(uri_launcher_monitor_put, slotid, capture_down_time,
                                              heartbeat_down_time, handling_down_time, client_delay,
                                              remote_ip, remote_port, response, &last_exchange);
    if (code.IsFailure()) return code;
    return Judge("monitor report", response, ParseLauncherMonitorResponse(response),
                 &last_exchange);
  }));
}

ErrorCode WebService::RequestSendDeviceId(const std::string& zu_key_value,
                                          const std::string& device_id, std::string* response,
                                          int* status, const std::string& request_type,
                                          const std::string& client_version) {
  last_exchange = ExchangeReport{};
  return Finish(NoThrow([&]() -> ErrorCode {
    if (!IsInitialized() || response == nullptr || status == nullptr) return WS_ERROR_FAILED;
    std::string text;
    ErrorCode code = impl->SendDeviceId(url_send_device_id, zu_key_value, device_id, request_type,
                                        client_version, text, &last_exchange);
    *response = text;
    if (code.IsFailure()) return code;
    return Judge("registration", text, ParseSendDeviceIdResponse(text, *status), &last_exchange);
  }));
}

}  // namespace vanta
