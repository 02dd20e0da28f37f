// The C accessor: a WebServiceAccessor behind a handle.
#include "capi/Handles.h"

namespace vanta {
namespace capi {
namespace {

// True when no run is going: none was started, or the last one has ended
// (its worker is then joined). False on the worker itself, in the state
// handler, as the run is still going there.
bool NoRun(const vanta_accessor* a) {
  return const_cast<WebServiceAccessor&>(a->accessor).WaitFor(0, nullptr);
}

// The worker's state handler: hands the state to the caller's.
void ForwardState(WebServiceAccessor::State::type state, void* context) {
  const vanta_accessor* a = static_cast<const vanta_accessor*>(context);
  a->state_handler(static_cast<int>(state), a->state_context);
}

// Copies the run report once per run, after its end.
void TakeReport(vanta_accessor* a) {
  if (a->report_taken) return;
  a->report = a->accessor.GetRunReport();
  a->report_taken = true;
}

}  // namespace
}  // namespace capi
}  // namespace vanta

using vanta::ErrorCode;
using vanta::WS_ERROR_FAILED;
using vanta::WS_SUCCESS;
using vanta::capi::Guarded;
using vanta::capi::NoRun;
using vanta::capi::Sized;

vanta_accessor* vanta_accessor_new(void) { return vanta::capi::New<vanta_accessor>(); }

void vanta_accessor_free(vanta_accessor* a) {
  if (a == nullptr) return;
  a->accessor.Cancel();
  delete a;  // waits for the worker
}

uint32_t vanta_accessor_initialize(vanta_accessor* a, const vanta_config* c) {
  if (a == nullptr || !Sized(c, vanta::capi::kConfigSize) || !NoRun(a)) return WS_ERROR_FAILED;
  const ErrorCode code = a->accessor.Initialize(
      c->client_version, c->token, c->arbiter_base_url, c->video_profile, c->audio_profile,
      c->gameid, c->request_token_first != 0, c->zuc_key_value, c->io_mouse, c->io_touch,
      c->io_keyboard, c->io_sensor, c->io_gamepad, c->yuv_itu_r_bt);
  a->report.clear();
  a->report_taken = false;
  return code.GetValue();
}

uint32_t vanta_accessor_set_env(vanta_accessor* a, const char* key, const char* value) {
  if (a == nullptr || key == nullptr || value == nullptr || !NoRun(a)) return WS_ERROR_FAILED;
  return Guarded([&] {
    a->accessor.MutableClientEnvironmentInfo().entries[key] = value;
    return ErrorCode(WS_SUCCESS);
  });
}

uint32_t vanta_accessor_set_state_handler(vanta_accessor* a, vanta_state_handler handler,
                                          void* context) {
  if (a == nullptr || !NoRun(a)) return WS_ERROR_FAILED;
  a->state_handler = handler;
  a->state_context = context;
  a->accessor.SetStateHandler(handler == nullptr ? nullptr : &vanta::capi::ForwardState, a);
  return WS_SUCCESS;
}

uint32_t vanta_accessor_set_register_device_id(vanta_accessor* a, int on) {
  if (a == nullptr || !NoRun(a)) return WS_ERROR_FAILED;
  a->accessor.SetRegisterDeviceId(on != 0);
  return WS_SUCCESS;
}

uint32_t vanta_accessor_set_web_api_origin(vanta_accessor* a, const char* origin) {
  if (a == nullptr || origin == nullptr || !NoRun(a)) return WS_ERROR_FAILED;
  return Guarded([&] {
    const std::string text(origin);
    a->accessor.SetWebApiOrigin(text);
    return ErrorCode(WS_SUCCESS);
  });
}

uint32_t vanta_accessor_start(vanta_accessor* a) {
  if (a == nullptr) return WS_ERROR_FAILED;
  const ErrorCode code = a->accessor.Start();
  // The report of the run that starts: the one copied since the last
  // initialize is that initialize's empty one.
  if (!code.IsFailure()) a->report_taken = false;
  return code.GetValue();
}

void vanta_accessor_cancel(vanta_accessor* a) {
  if (a != nullptr) a->accessor.Cancel();
}

int vanta_accessor_wait(vanta_accessor* a, int timeout_ms, uint32_t* result) {
  ErrorCode code(WS_ERROR_FAILED);
  const bool ended = a == nullptr || a->accessor.WaitFor(timeout_ms, &code);
  if (ended && result != nullptr) *result = code.GetValue();
  return ended ? 1 : 0;
}

int vanta_accessor_state(vanta_accessor* a) {
  return a == nullptr ? -1 : static_cast<int>(a->accessor.GetState());
}

uint32_t vanta_accessor_progress(vanta_accessor* a, int* step, int* attempt) {
  if (a == nullptr || step == nullptr || attempt == nullptr) return WS_ERROR_FAILED;
  const vanta::StepProgress now = a->accessor.GetProgress();
  *step = static_cast<int>(now.step);
  *attempt = now.attempt;
  return WS_SUCCESS;
}

uint32_t vanta_accessor_service(const vanta_accessor* a, vanta_service* out) {
  if (a == nullptr || !Sized(out, vanta::capi::kServiceSize) || !NoRun(a)) return WS_ERROR_FAILED;
  const vanta::WebServiceAccessor& x = a->accessor;
  const int ports[4] = {x.GetControlPort(), x.GetVideoPort(), x.GetAudioPort(), x.GetInputPort()};
  vanta::capi::FillService({x.GetIpv4(), x.GetIpv6(), x.GetKey1(), x.GetKey2(), x.GetToken(),
                            x.GetZucKeyValue(), x.GetAccessToken()},
                           ports, x.GetQualityParams(), out);
  return WS_SUCCESS;
}

uint32_t vanta_accessor_report_count(vanta_accessor* a, int* count) {
  if (a == nullptr || count == nullptr || !NoRun(a)) return WS_ERROR_FAILED;
  return Guarded([&] {
    vanta::capi::TakeReport(a);
    *count = static_cast<int>(a->report.size());
    return ErrorCode(WS_SUCCESS);
  });
}

uint32_t vanta_accessor_report_step(vanta_accessor* a, int index, vanta_step_report* step,
                                    vanta_exchange_report* last) {
  if (a == nullptr || !Sized(step, vanta::capi::kStepSize) || !NoRun(a) ||
      (last != nullptr && !Sized(last, vanta::capi::kExchangeSize))) {
    return WS_ERROR_FAILED;
  }
  return Guarded([&] {
    vanta::capi::TakeReport(a);
    if (index < 0 || static_cast<size_t>(index) >= a->report.size())
      return ErrorCode(WS_ERROR_FAILED);
    const vanta::StepReport& from = a->report[static_cast<size_t>(index)];
    step->step = static_cast<int>(from.step);
    step->attempts = from.attempts;
    step->code = from.code.GetValue();
    step->detail = from.detail.c_str();
    if (last != nullptr) vanta::capi::FillExchange(from.last, last);
    return ErrorCode(WS_SUCCESS);
  });
}
