#include "vanta/WebServiceAccessor.h"

#include <string>

#include "accessor/DeviceId.h"
#include "accessor/KeyFile.h"
#include "accessor/Retry.h"
#include "core/Trace.h"
#include "platform/Cancellation.h"
#include "platform/Env.h"

namespace vanta {

namespace {

// The device identifier buffer: 54 characters and the terminator.
constexpr int kDeviceIdBufferSize = 55;
// Sent with every device identifier registration.
const char kRegistrationClientVersion[] = "1.1.0";
const char kRequestTypeNegotiation[] = "0";
const char kRequestTypeOnDemand[] = "1";

const char* StateName(int state) {
  static const char* const kNames[] = {"IDLE",           "REQUEST_TOKEN", "REQUEST_GAMESERVICE",
                                       "SEND_DEVICE_ID", "COMPLETE",      "FAILED"};
  return state >= 0 && state <= 5 ? kNames[state] : "UNKNOWN";
}

}  // namespace

struct WebServiceAccessor::Control {
  // Raised by the destructor: ends the UUID helper and the lock wait.
  Cancellation stop_waits;
};

WebServiceAccessor::WebServiceAccessor()
    : state(State::IDLE),
      client_version(0),
      video_profile(0),
      audio_profile(2),
      io_mouse(1),
      io_touch(1),
      io_keyboard(1),
      io_sensor(0),
      io_gamepad(1),
      control_port(0),
      video_port(0),
      audio_port(0),
      input_port(0),
      yuv_itu_r_bt(709),
      quality_params{},
      request_token_first(false),
      abort_requested(false),
      control(new Control) {}

WebServiceAccessor::WebServiceAccessor(const WebServiceAccessor& other)
    : Runnable(other),
      thread(other.thread),
      state(other.state.load()),
      client_version(other.client_version),
      token(other.token),
      gameid(other.gameid),
      access_token(other.access_token),
      zuc_key_value(other.zuc_key_value),
      video_profile(other.video_profile),
      audio_profile(other.audio_profile),
      io_mouse(other.io_mouse),
      io_touch(other.io_touch),
      io_keyboard(other.io_keyboard),
      io_sensor(other.io_sensor),
      io_gamepad(other.io_gamepad),
      ipv4(other.ipv4),
      ipv6(other.ipv6),
      control_port(other.control_port),
      video_port(other.video_port),
      audio_port(other.audio_port),
      input_port(other.input_port),
      key1(other.key1),
      key2(other.key2),
      yuv_itu_r_bt(other.yuv_itu_r_bt),
      quality_params(other.quality_params),
      client_environment_info(other.client_environment_info),
      request_token_first(other.request_token_first),
      arbiter_base_url(other.arbiter_base_url),
      abort_requested(other.abort_requested.load()),
      control(new Control) {}

WebServiceAccessor& WebServiceAccessor::operator=(const WebServiceAccessor& other) {
  if (this == &other) return *this;
  thread = other.thread;  // waits for a run of this object that is still going
  state = other.state.load();
  client_version = other.client_version;
  token = other.token;
  gameid = other.gameid;
  access_token = other.access_token;
  zuc_key_value = other.zuc_key_value;
  video_profile = other.video_profile;
  audio_profile = other.audio_profile;
  io_mouse = other.io_mouse;
  io_touch = other.io_touch;
  io_keyboard = other.io_keyboard;
  io_sensor = other.io_sensor;
  io_gamepad = other.io_gamepad;
  ipv4 = other.ipv4;
  ipv6 = other.ipv6;
  control_port = other.control_port;
  video_port = other.video_port;
  audio_port = other.audio_port;
  input_port = other.input_port;
  key1 = other.key1;
  key2 = other.key2;
  yuv_itu_r_bt = other.yuv_itu_r_bt;
  quality_params = other.quality_params;
  client_environment_info = other.client_environment_info;
  request_token_first = other.request_token_first;
  arbiter_base_url = other.arbiter_base_url;
  abort_requested = other.abort_requested.load();
  return *this;
}

WebServiceAccessor::~WebServiceAccessor() {
  abort_requested = true;
  control->stop_waits.Cancel();
  Join(nullptr);
}

ErrorCode WebServiceAccessor::Initialize(int client_version_in, const char* token_in,
                                         const char* arbiter_base_url_in, int video_profile_in,
                                         int audio_profile_in, const char* gameid_in,
                                         bool request_token_first_in, const char* zuc_key_value_in,
                                         int io_mouse_in, int io_touch_in, int io_keyboard_in,
                                         int io_sensor_in, int io_gamepad_in, int yuv_itu_r_bt_in) {
  SetState(State::IDLE);
  client_version = client_version_in;
  abort_requested = false;
  control->stop_waits.Reset();
  token = token_in;
  zuc_key_value = zuc_key_value_in;
  arbiter_base_url = arbiter_base_url_in;
  gameid = gameid_in;
  video_profile = video_profile_in;
  audio_profile = audio_profile_in;
  io_mouse = io_mouse_in;
  io_touch = io_touch_in;
  io_keyboard = io_keyboard_in;
  io_sensor = io_sensor_in;
  io_gamepad = io_gamepad_in;
  access_token.clear();
  ipv4.clear();
  ipv6.clear();
  key1.clear();
  key2.clear();
  control_port = 0;
  video_port = 0;
  audio_port = 0;
  input_port = 0;
  yuv_itu_r_bt = yuv_itu_r_bt_in;
  // The per-level entries and the video level count stay as they were.
  quality_params.version = 0;
  quality_params.audio_level_count = 0;
  request_token_first = request_token_first_in;
  thread.SetName("WebServiceAccessor");
  thread.SetPriority(1000);
  if (thread.Initialize(this).IsFailure()) return WS_ERROR_THREAD_INITIALIZE;
  return WS_SUCCESS;
}

ErrorCode WebServiceAccessor::Start() {
  return thread.Start().IsFailure() ? ErrorCode(WS_ERROR_THREAD_START) : ErrorCode(WS_SUCCESS);
}

ErrorCode WebServiceAccessor::Join(ErrorCode* result) { return thread.Join(result); }

ErrorCode WebServiceAccessor::GetResult() const { return thread.GetResult(); }

WebServiceAccessor::State::type WebServiceAccessor::GetState() {
  return static_cast<State::type>(state.load());
}

bool WebServiceAccessor::IsTermRequest() { return thread.GetState() == ThreadState::TERM_REQUEST; }

ErrorCode WebServiceAccessor::Run() {
  ErrorCode result = RunRazever();
  if (trace::Enabled()) trace::Emit("negotiation ended: " + trace::Code(result));
  return result;
}

WebService::ClientEnvironmentInfo& WebServiceAccessor::MutableClientEnvironmentInfo() {
  return client_environment_info;
}

WebServiceAccessor::State::type WebServiceAccessor::SetState(State::type next) {
  state = next;
  if (trace::Enabled()) {
    trace::Emit("state " + std::to_string(next) + " " + StateName(next));
  }
  return next;
}

bool WebServiceAccessor::IsAbortRequested() const { return abort_requested; }

ErrorCode WebServiceAccessor::RunRazever() {
  WebService service;
  // A run that fails or is aborted publishes FAILED and returns its code.
  auto fail = [this](ErrorCode code) {
    SetState(State::FAILED);
    return code;
  };
  auto aborted = [this] { return IsAbortRequested(); };

  SetState(State::REQUEST_TOKEN);
  if (aborted()) return fail(WS_ERROR_ABORTED);
  ErrorCode code = service.Initialize();
  if (code.IsFailure()) return fail(code);
  if (aborted()) return fail(WS_ERROR_ABORTED);
  service.SetUrlArbiterBase(arbiter_base_url);
  service.SetUrlSendDeviceId();

  StepOutcome step;
  if (request_token_first) {
    step = RunStep(
        "token",
        [&](int try_count) {
          return service.RequestZuToken(client_version, gameid, try_count, token, zuc_key_value);
        },
        aborted);
    if (step.aborted) return fail(WS_ERROR_ABORTED);
    if (step.code.IsFailure()) return fail(step.code);
  }

  step = RunStep(
      "access token",
      [&](int try_count) {
        return service.RequestZuAccesstoken(client_version, token, zuc_key_value, try_count,
                                            access_token);
      },
      aborted);
  if (step.aborted) return fail(WS_ERROR_ABORTED);
  if (step.code.IsFailure()) return fail(step.code);

  step = RunStep(
      "game service",
      [&](int try_count) {
        SetState(State::REQUEST_GAMESERVICE);
        return service.RequestZuGameservice(
            client_version, access_token, video_profile, audio_profile, io_mouse, io_touch,
            io_keyboard, io_sensor, io_gamepad, yuv_itu_r_bt, try_count, client_environment_info,
            ipv4, ipv6, control_port, video_port, audio_port, input_port, key1, key2,
            quality_params);
      },
      aborted);
  if (step.aborted) return fail(WS_ERROR_ABORTED);
  if (step.code.IsFailure()) return fail(step.code);

  // Without a device identifier there is nothing to register and the key
  // file is left as it was; the negotiation itself has succeeded.
  // An owner that stops the run during the UUID query ends it as aborted.
  char identifier[kDeviceIdBufferSize] = {};
  if (!CreateDeviceId(identifier, kDeviceIdBufferSize)) {
    if (aborted()) return fail(WS_ERROR_ABORTED);
    SetState(State::COMPLETE);
    return WS_SUCCESS;
  }
  const std::string device_id(identifier);

  // The registration's outcome gates nothing; only an abort ends the run.
  int status = 0;
  step = RunStep(
      "registration",
      [&](int) {
        SetState(State::SEND_DEVICE_ID);
        std::string response;
        return service.RequestSendDeviceId(zuc_key_value, device_id, &response, &status,
                                           kRequestTypeNegotiation, kRegistrationClientVersion);
      },
      aborted);
  if (step.aborted) return fail(WS_ERROR_ABORTED);

  std::string key_file;
  const bool written = WriteKeyFile(zuc_key_value, &key_file);
  if (trace::Enabled()) {
    trace::Emit(written ? "key file written: " + key_file + " holds " + trace::Secret(zuc_key_value)
                        : "key file NOT written: " + key_file);
  }
  SetState(State::COMPLETE);
  return WS_SUCCESS;
}

bool WebServiceAccessor::CreateDeviceId(char* buffer, int size) {
  DeviceIdFailure failure = DeviceIdFailure::kNone;
  const bool built = CreateDeviceIdText(buffer, size, &control->stop_waits, &failure);
  if (trace::Enabled()) {
    trace::Emit(built
                    ? "device identifier: built"
                    : std::string("device identifier: not built: ") + DeviceIdFailureText(failure));
  }
  return built;
}

bool WebServiceAccessor::BuildDeviceId(std::string* device_id, std::string* reason) {
  char identifier[kDeviceIdBufferSize] = {};
  DeviceIdFailure failure = DeviceIdFailure::kNone;
  if (!CreateDeviceIdText(identifier, kDeviceIdBufferSize, nullptr, &failure)) {
    if (reason != nullptr) *reason = DeviceIdFailureText(failure);
    return false;
  }
  *device_id = identifier;
  return true;
}

void WebServiceAccessor::CreateAndSendDeviceId() {
  char identifier[kDeviceIdBufferSize] = {};
  if (!CreateDeviceId(identifier, kDeviceIdBufferSize)) return;
  const std::string device_id(identifier);

  WebService service;
  if (service.Initialize() != ErrorCode(WS_SUCCESS)) return;
  service.SetUrlSendDeviceId();
  std::string key;
  if (!ReadKeyFile(&key)) return;

  int status = 0;
  RunStep(
      "registration",
      [&](int) {
        std::string response;
        return service.RequestSendDeviceId(key, device_id, &response, &status, kRequestTypeOnDemand,
                                           kRegistrationClientVersion);
      },
      [this] { return IsAbortRequested(); });
}

}  // namespace vanta
