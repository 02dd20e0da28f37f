// The C web service: a WebService behind a handle.
#include "capi/Handles.h"

namespace vanta {
namespace capi {
namespace {
// The request's "env" entries, or false when they are not all there.
bool ReadEnv(const vanta_game_service_request& request, WebService::ClientEnvironmentInfo* env) {
  if (request.env_count < 0) return false;
  if (request.env_count == 0) return true;
  if (request.env_keys == nullptr || request.env_values == nullptr) return false;
  for (int i = 0; i < request.env_count; ++i) {
    const char* key = request.env_keys[i];
    const char* value = request.env_values[i];
    if (key == nullptr || value == nullptr) return false;
    env->entries[key] = value;
  }
  return true;
}

}  // namespace
}  // namespace capi
}  // namespace vanta

using vanta::ErrorCode;
using vanta::WS_ERROR_FAILED;
using vanta::WS_SUCCESS;
using vanta::capi::Guarded;
using vanta::capi::Sized;

vanta_web_service* vanta_web_service_new(void) { return vanta::capi::New<vanta_web_service>(); }

void vanta_web_service_free(vanta_web_service* w) { delete w; }

uint32_t vanta_web_service_initialize(vanta_web_service* w) {
  if (w == nullptr) return WS_ERROR_FAILED;
  return w->service.Initialize().GetValue();
}

uint32_t vanta_web_service_set_arbiter_base(vanta_web_service* w, const char* base) {
  if (w == nullptr || base == nullptr) return WS_ERROR_FAILED;
  return Guarded([&] {
    w->service.SetUrlArbiterBase(base);
    return ErrorCode(WS_SUCCESS);
  });
}

void vanta_web_service_set_monitor_address(vanta_web_service* w, const char* uri) {
  if (w == nullptr || uri == nullptr) return;
  Guarded([&] {
    w->service.SetUriRequestLauncherMonitorPut(std::string(uri));
    return ErrorCode(WS_SUCCESS);
  });
}

uint32_t vanta_web_service_monitor_put(vanta_web_service* w, int slotid, int capture_down_time,
                                       int heartbeat_down_time, int handling_down_time,
                                       int client_delay, const char* remote_ip, int remote_port) {
  if (w == nullptr || remote_ip == nullptr) return WS_ERROR_FAILED;
  return Guarded([&] {
    return w->service.RequestLauncherMonitorPut(slotid, capture_down_time, heartbeat_down_time,
                                                handling_down_time, client_delay, remote_ip,
                                                remote_port);
  });
}

uint32_t vanta_web_service_request_token(vanta_web_service* w, int client_version,
                                         const char* gameid, int try_count, const char** token,
                                         const char** zuc_key_value) {
  if (w == nullptr || gameid == nullptr || token == nullptr || zuc_key_value == nullptr) {
    return WS_ERROR_FAILED;
  }
  return Guarded([&] {
    std::string got_token, got_key;
    const ErrorCode code =
        w->service.RequestZuToken(client_version, gameid, try_count, got_token, got_key);
    if (code.IsFailure()) return code;
    w->token.swap(got_token);
    w->zuc_key_value.swap(got_key);
    *token = w->token.c_str();
    *zuc_key_value = w->zuc_key_value.c_str();
    return code;
  });
}

uint32_t vanta_web_service_request_access_token(vanta_web_service* w, int client_version,
                                                const char* token, const char* zuc_key_value,
                                                int try_count, const char** access_token) {
  if (w == nullptr || token == nullptr || zuc_key_value == nullptr || access_token == nullptr) {
    return WS_ERROR_FAILED;
  }
  return Guarded([&] {
    std::string got;
    const ErrorCode code =
        w->service.RequestZuAccesstoken(client_version, token, zuc_key_value, try_count, got);
    if (code.IsFailure()) return code;
    w->access_token.swap(got);
    *access_token = w->access_token.c_str();
    return code;
  });
}

uint32_t vanta_web_service_request_game_service(vanta_web_service* w,
                                                const vanta_game_service_request* request,
                                                vanta_service* out) {
  if (w == nullptr || !Sized(request, vanta::capi::kGameServiceRequestSize) ||
      request->access_token == nullptr || !Sized(out, vanta::capi::kServiceSize)) {
    return WS_ERROR_FAILED;
  }
  return Guarded([&] {
    const vanta_game_service_request& r = *request;
    vanta::WebService::ClientEnvironmentInfo env;
    if (!vanta::capi::ReadEnv(r, &env)) return ErrorCode(WS_ERROR_FAILED);
    std::string ipv4, ipv6, key1, key2, sent(r.access_token);
    int ports[4] = {0, 0, 0, 0};
    vanta::WebService::QualityParams quality{};
    const ErrorCode code = w->service.RequestZuGameservice(
        r.client_version, sent, r.video_profile, r.audio_profile, r.io_mouse, r.io_touch,
        r.io_keyboard, r.io_sensor, r.io_gamepad, r.yuv_itu_r_bt, r.try_count, env, ipv4, ipv6,
        ports[0], ports[1], ports[2], ports[3], key1, key2, quality);
    if (code.IsFailure()) return code;
    w->ipv4.swap(ipv4);
    w->ipv6.swap(ipv6);
    w->key1.swap(key1);
    w->key2.swap(key2);
    w->sent_access_token.swap(sent);
    static const std::string kNone;
    vanta::capi::FillService(
        {w->ipv4, w->ipv6, w->key1, w->key2, kNone, kNone, w->sent_access_token}, ports, quality,
        out);
    return code;
  });
}

uint32_t vanta_web_service_last_exchange(vanta_web_service* w, vanta_exchange_report* out) {
  if (w == nullptr || !Sized(out, vanta::capi::kExchangeSize)) return WS_ERROR_FAILED;
  return Guarded([&] {
    w->last = w->service.GetLastExchange();
    vanta::capi::FillExchange(w->last, out);
    return ErrorCode(WS_SUCCESS);
  });
}
