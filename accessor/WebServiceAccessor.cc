#include "vanta/WebServiceAccessor.h"

#include <chrono>
#include <string>
#include <utility>

#include "accessor/DeviceId.h"
#include "accessor/KeyFile.h"
#include "accessor/Retry.h"
#include "core/NoThrow.h"
#include "core/Trace.h"
#include "platform/Cancellation.h"
#include "platform/Env.h"
#include "platform/Mutex.h"

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

// The short ids that tell the trace lines of two accessors apart.
std::atomic<unsigned> accessors_made{0};

}  // namespace

// What the owner, any thread that cancels, and the worker share, and the
// settings and report of a run.
struct WebServiceAccessor::Control {
  // Raised by Cancel(): ends retry waits and exchanges in flight.
  Cancellation cancel;
  // Raised by Cancel() and the destructor: ends the UUID helper and the
  // wait for the identity lock.
  Cancellation stop_waits;

  Mutex mu;
  CondVar ended;
  bool running VANTA_GUARDED_BY(mu) = false;  // from Start until Run returns

  StateHandler state_handler = nullptr;
  void* state_context = nullptr;
  bool register_device_id = true;
  std::string web_api_origin;      // empty: the build's
  std::vector<StepReport> report;  // written by the worker
  std::string trace_prefix;        // "[a3] "
  // The step the run is in and its attempt, as step * 4 + attempt: one
  // word, so that a reader never pairs a step with another's attempt.
  std::atomic<int> progress{0};

  void Enter(StepReport::Step::type step, int attempt) { progress = step * 4 + attempt; }

  // A Control with its trace prefix, or null without memory. Constructors
  // cannot return a code: Initialize reports a missing Control.
  static Control* New() {
    Control* control = new (std::nothrow) Control;
    if (control == nullptr) return nullptr;
    // Without memory for it, lines carry no prefix.
    NoThrow([control] {
      control->trace_prefix = "[a" + std::to_string(++accessors_made) + "] ";
      return ErrorCode(WS_SUCCESS);
    });
    return control;
  }
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
      control(Control::New()) {}

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
      control(Control::New()) {}

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
  if (control != nullptr) control->stop_waits.Cancel();
  Join(nullptr);
}

ErrorCode WebServiceAccessor::Initialize(int client_version_in, const char* token_in,
                                         const char* arbiter_base_url_in, int video_profile_in,
                                         int audio_profile_in, const char* gameid_in,
                                         bool request_token_first_in, const char* zuc_key_value_in,
                                         int io_mouse_in, int io_touch_in, int io_keyboard_in,
                                         int io_sensor_in, int io_gamepad_in, int yuv_itu_r_bt_in) {
  if (token_in == nullptr || arbiter_base_url_in == nullptr || gameid_in == nullptr ||
      zuc_key_value_in == nullptr) {
    return WS_ERROR_FAILED;
  }
  if (control == nullptr) return WS_ERROR_OUT_OF_MEMORY;
  // A run that has published its end may still be leaving Run.
  if (GetState() == State::COMPLETE || GetState() == State::FAILED) thread.Join(nullptr);
  trace::ScopedPrefix prefix(control->trace_prefix);
  return NoThrow([&]() -> ErrorCode {
    SetState(State::IDLE);
    client_version = client_version_in;
    abort_requested = false;
    control->cancel.Reset();
    control->stop_waits.Reset();
    control->report.clear();
    control->Enter(StepReport::Step::INITIALIZE, 0);
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
  });
}

ErrorCode WebServiceAccessor::Start() {
  if (control == nullptr) return WS_ERROR_THREAD_START;
  {
    MutexLock lock(&control->mu);
    if (control->running) return WS_ERROR_THREAD_START;
    control->running = true;
  }
  if (thread.Start().IsFailure()) {
    MutexLock lock(&control->mu);
    control->running = false;
    return WS_ERROR_THREAD_START;
  }
  return WS_SUCCESS;
}

void WebServiceAccessor::Cancel() {
  if (control == nullptr) return;
  // In this order: a worker woken from a helper or lock wait must find the
  // run cancelled, or it would go on as if the identifier had just failed.
  control->cancel.Cancel();
  control->stop_waits.Cancel();
}

bool WebServiceAccessor::WaitFor(int timeout_ms, ErrorCode* result) {
  if (control != nullptr) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    MutexLock lock(&control->mu);
    while (control->running) {
      if (timeout_ms < 0) {
        control->ended.Wait(&control->mu);
        continue;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      control->ended.WaitFor(&control->mu, left);
    }
  }
  // The worker is leaving Run, if it ran at all: this returns promptly.
  thread.Join(result);
  return true;
}

void WebServiceAccessor::SetStateHandler(StateHandler handler, void* context) {
  if (control == nullptr) return;
  control->state_handler = handler;
  control->state_context = context;
}

void WebServiceAccessor::SetRegisterDeviceId(bool on) {
  if (control != nullptr) control->register_device_id = on;
}

void WebServiceAccessor::SetWebApiOrigin(const std::string& origin) {
  if (control == nullptr) return;
  NoThrow([&] {
    control->web_api_origin = origin;
    return ErrorCode(WS_SUCCESS);
  });
}

std::vector<StepReport> WebServiceAccessor::GetRunReport() const {
  std::vector<StepReport> copy;
  if (control == nullptr) return copy;
  NoThrow([&] {
    copy = control->report;
    return ErrorCode(WS_SUCCESS);
  });
  return copy;
}

StepProgress WebServiceAccessor::GetProgress() const {
  StepProgress now;
  if (control == nullptr) return now;
  const int progress = control->progress;
  now.step = static_cast<StepReport::Step::type>(progress / 4);
  now.attempt = progress % 4;
  return now;
}

ErrorCode WebServiceAccessor::Join(ErrorCode* result) { return thread.Join(result); }

ErrorCode WebServiceAccessor::GetResult() const { return thread.GetResult(); }

WebServiceAccessor::State::type WebServiceAccessor::GetState() {
  return static_cast<State::type>(state.load());
}

bool WebServiceAccessor::IsTermRequest() { return thread.GetState() == ThreadState::TERM_REQUEST; }

ErrorCode WebServiceAccessor::Run() {
  trace::ScopedPrefix prefix(control->trace_prefix);
  control->report.clear();
  control->Enter(StepReport::Step::INITIALIZE, 0);
  // Whatever runs out of memory ends the run with that code, as FAILED.
  ErrorCode result = NoThrow([this] { return RunRazever(); });
  if (result == ErrorCode(WS_ERROR_OUT_OF_MEMORY) && GetState() != State::FAILED) {
    SetState(State::FAILED);
  }
  if (trace::Enabled()) trace::Emit("negotiation ended: " + trace::Code(result));
  {
    MutexLock lock(&control->mu);
    control->running = false;
  }
  control->ended.SignalAll();
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
  // Only the states a run publishes reach the handler, on the worker.
  if (next != State::IDLE && control->state_handler != nullptr) {
    control->state_handler(next, control->state_context);
  }
  return next;
}

bool WebServiceAccessor::IsAbortRequested() const {
  return abort_requested || control->cancel.IsCancelled();
}

void WebServiceAccessor::Record(StepReport::Step::type step, int attempts, ErrorCode code,
                                std::string detail, const ExchangeReport& last) {
  control->report.push_back(StepReport{step, attempts, code, std::move(detail), last});
}

ErrorCode WebServiceAccessor::RunRazever() {
  WebService service;
  service.SetCancellation(&control->cancel);
  SetState(State::REQUEST_TOKEN);
  ErrorCode code = SetUpService(service);
  if (!code.IsFailure() && request_token_first) {
    code = RequestStep(StepReport::Step::TOKEN, service, [&](int try_count) {
      return service.RequestZuToken(client_version, gameid, try_count, token, zuc_key_value);
    });
  }
  if (!code.IsFailure()) {
    code = RequestStep(StepReport::Step::ACCESS_TOKEN, service, [&](int try_count) {
      return service.RequestZuAccesstoken(client_version, token, zuc_key_value, try_count,
                                          access_token);
    });
  }
  if (!code.IsFailure()) {
    code = RequestStep(StepReport::Step::GAME_SERVICE, service, [&](int try_count) {
      SetState(State::REQUEST_GAMESERVICE);
      return service.RequestZuGameservice(
          client_version, access_token, video_profile, audio_profile, io_mouse, io_touch,
          io_keyboard, io_sensor, io_gamepad, yuv_itu_r_bt, try_count, client_environment_info,
          ipv4, ipv6, control_port, video_port, audio_port, input_port, key1, key2, quality_params);
    });
  }
  if (!code.IsFailure()) code = RegisterAndKeep(service);
  SetState(code.IsFailure() ? State::FAILED : State::COMPLETE);
  return code;
}

ErrorCode WebServiceAccessor::SetUpService(WebService& service) {
  if (IsAbortRequested()) return WS_ERROR_ABORTED;
  const ErrorCode code = service.Initialize();
  Record(StepReport::Step::INITIALIZE, 0, code, "", ExchangeReport{});
  if (code.IsFailure()) return code;
  if (IsAbortRequested()) return WS_ERROR_ABORTED;
  service.SetUrlArbiterBase(arbiter_base_url);
  if (control->web_api_origin.empty()) {
    service.SetUrlSendDeviceId();
  } else {
    service.SetUrlSendDeviceId(control->web_api_origin);
  }
  return WS_SUCCESS;
}

ErrorCode WebServiceAccessor::RequestStep(StepReport::Step::type step, WebService& service,
                                          const std::function<ErrorCode(int try_count)>& attempt) {
  const StepOutcome outcome = RunStep(
      StepName(step),
      [&](int try_count) {
        control->Enter(step, try_count);
        return attempt(try_count);
      },
      [this] { return IsAbortRequested(); }, &control->cancel);
  const ErrorCode code = outcome.aborted ? ErrorCode(WS_ERROR_ABORTED) : outcome.code;
  Record(step, outcome.attempts, code, "", service.GetLastExchange());
  return code;
}

// The device identifier, its registration and the key file. Neither a
// missing identifier nor a failed registration fails the run; only a stop.
ErrorCode WebServiceAccessor::RegisterAndKeep(WebService& service) {
  if (control->register_device_id) {
    char identifier[kDeviceIdBufferSize] = {};
    const char* reason = "";
    control->Enter(StepReport::Step::DEVICE_ID, 0);
    const bool built = CreateDeviceId(identifier, kDeviceIdBufferSize, &reason);
    const ErrorCode stopped = IsAbortRequested() ? WS_ERROR_ABORTED : WS_SUCCESS;
    Record(StepReport::Step::DEVICE_ID, 0,
           built                 ? WS_SUCCESS
           : stopped.IsFailure() ? stopped
                                 : WS_ERROR_FAILED,
           reason, ExchangeReport{});
    // Without a device identifier the key file is left as it was.
    if (!built) return stopped;
    const std::string device_id(identifier);
    // The registration's outcome gates nothing.
    const ErrorCode code = RequestStep(StepReport::Step::REGISTRATION, service, [&](int) {
      SetState(State::SEND_DEVICE_ID);
      std::string response;
      int status = 0;
      return service.RequestSendDeviceId(zuc_key_value, device_id, &response, &status,
                                         kRequestTypeNegotiation, kRegistrationClientVersion);
    });
    if (code == ErrorCode(WS_ERROR_ABORTED)) return code;
  }
  std::string key_file;
  control->Enter(StepReport::Step::KEY_FILE, 0);
  const bool written = WriteKeyFile(zuc_key_value, &key_file);
  Record(StepReport::Step::KEY_FILE, 0, written ? WS_SUCCESS : WS_ERROR_FAILED,
         written ? "" : key_file + ": not written as a regular file of this user",
         ExchangeReport{});
  if (trace::Enabled()) {
    trace::Emit(written ? "key file written: " + key_file + " holds " + trace::Secret(zuc_key_value)
                        : "key file NOT written: " + key_file);
  }
  return WS_SUCCESS;
}

bool WebServiceAccessor::CreateDeviceId(char* buffer, int size, const char** reason) {
  DeviceIdFailure failure = DeviceIdFailure::kNone;
  const bool built = CreateDeviceIdText(
      buffer, size, control == nullptr ? nullptr : &control->stop_waits, &failure);
  *reason = built ? "" : DeviceIdFailureText(failure);
  if (trace::Enabled()) {
    trace::Emit(built ? "device identifier: built"
                      : std::string("device identifier: not built: ") + *reason);
  }
  return built;
}

bool WebServiceAccessor::BuildDeviceId(std::string* device_id, std::string* reason) {
  const ErrorCode code = NoThrow([&]() -> ErrorCode {
    char identifier[kDeviceIdBufferSize] = {};
    DeviceIdFailure failure = DeviceIdFailure::kNone;
    if (device_id == nullptr) return WS_ERROR_FAILED;
    if (!CreateDeviceIdText(identifier, kDeviceIdBufferSize, nullptr, &failure)) {
      if (reason != nullptr) *reason = DeviceIdFailureText(failure);
      return WS_ERROR_FAILED;
    }
    *device_id = identifier;
    return WS_SUCCESS;
  });
  return !code.IsFailure();
}

void WebServiceAccessor::CreateAndSendDeviceId() {
  NoThrow([this] {
    char identifier[kDeviceIdBufferSize] = {};
    const char* reason = "";
    if (!CreateDeviceId(identifier, kDeviceIdBufferSize, &reason))
      return ErrorCode(WS_ERROR_FAILED);
    const std::string device_id(identifier);

    WebService service;
    if (service.Initialize() != ErrorCode(WS_SUCCESS)) return ErrorCode(WS_ERROR_FAILED);
    service.SetUrlSendDeviceId();
    std::string key;
    if (!ReadKeyFile(&key)) return ErrorCode(WS_ERROR_FAILED);

    int status = 0;
    return RunStep(
               "registration",
               [&](int) {
                 std::string response;
                 return service.RequestSendDeviceId(key, device_id, &response, &status,
                                                    kRequestTypeOnDemand,
                                                    kRegistrationClientVersion);
               },
               [this] { return IsAbortRequested(); },
               control == nullptr ? nullptr : &control->cancel)
        .code;
  });
}

}  // namespace vanta
