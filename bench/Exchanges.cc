#include "bench/Exchanges.h"

#include "bench/LibraryBodies.h"
#include "bench/Texts.h"
#include "messages/Accesstoken.h"
#include "messages/Gameservice.h"
#include "messages/Token.h"

namespace vanta {
namespace bench {

bool LibraryDispatch(WebService& ws, Dispatch which) {
  const NegotiationArgs& a = Args();
  ErrorCode code;
  switch (which) {
    case Dispatch::kToken: {
      std::string token;
      std::string zuc_key_value;
      code = ws.RequestZuToken(a.client_version, a.gameid, a.try_count, token, zuc_key_value);
      break;
    }
    case Dispatch::kAccesstoken: {
      std::string access_token;
      code = ws.RequestZuAccesstoken(a.client_version, Token(), ZucKeyValue(), a.try_count,
                                     access_token);
      break;
    }
    case Dispatch::kGameservice: {
      std::string ipv4, ipv6, key1, key2;
      int control_port = 0, video_port = 0, audio_port = 0, input_port = 0;
      WebService::QualityParams quality{};
      code = ws.RequestZuGameservice(
          a.client_version, AccessToken(), a.video_profile, a.audio_profile, a.io_mouse, a.io_touch,
          a.io_keyboard, a.io_sensor, a.io_gamepad, a.yuv_itu_r_bt, a.try_count, a.env, ipv4, ipv6,
          control_port, video_port, audio_port, input_port, key1, key2, quality);
      break;
    }
  }
  return code == WS_SUCCESS;
}

bool LibraryNegotiation(WebService& ws) {
  return LibraryDispatch(ws, Dispatch::kToken) && LibraryDispatch(ws, Dispatch::kAccesstoken) &&
         LibraryDispatch(ws, Dispatch::kGameservice);
}

bool RawDispatch(const std::string& base, Dispatch which) {
  std::string response;
  switch (which) {
    case Dispatch::kToken:
      return RawPost(base + "request_token", TokenBody(), response);
    case Dispatch::kAccesstoken:
      return RawPost(base + "request_accesstoken", AccesstokenBody(), response);
    case Dispatch::kGameservice:
      return RawPost(base + "request_gameservice", GameserviceBody(), response);
  }
  return false;
}

bool RawNegotiation(const std::string& base) {
  return RawDispatch(base, Dispatch::kToken) && RawDispatch(base, Dispatch::kAccesstoken) &&
         RawDispatch(base, Dispatch::kGameservice);
}

bool RawNegotiationWithMessages(const std::string& base) {
  const NegotiationArgs& a = Args();
  std::string response, token, zuc_key_value, access_token;
  if (!RawPost(base + "request_token", LibraryTokenBody(a), response) ||
      ParseTokenResponse(response, token, zuc_key_value) != WS_SUCCESS) {
    return false;
  }
  if (!RawPost(base + "request_accesstoken", LibraryAccesstokenBody(a, token, zuc_key_value),
               response) ||
      ParseAccesstokenResponse(response, access_token) != WS_SUCCESS) {
    return false;
  }
  std::string ipv4, ipv6, key1, key2;
  int control_port = 0, video_port = 0, audio_port = 0, input_port = 0;
  WebService::QualityParams quality{};
  return RawPost(base + "request_gameservice", LibraryGameserviceBody(a, access_token), response) &&
         ParseGameserviceResponse(response, ipv4, ipv6, control_port, video_port, audio_port,
                                  input_port, key1, key2, quality) == WS_SUCCESS;
}

bool LibraryMonitorReport(WebService& ws) {
  const MonitorArgs& m = Monitor();
  return ws.RequestLauncherMonitorPut(m.slotid, m.capture_down_time, m.heartbeat_down_time,
                                      m.handling_down_time, m.client_delay, m.remote_ip,
                                      m.remote_port) == WS_SUCCESS;
}

bool RawMonitorReport(RawKeepAlive& connection, const std::string& url) {
  std::string response;
  return connection.Get(url, MonitorQuery(), response);
}

bool RawFreshMonitorReport(const std::string& url) {
  std::string response;
  return RawGetFresh(url, MonitorQuery(), response);
}

}  // namespace bench
}  // namespace vanta
