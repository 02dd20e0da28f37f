// Runs the whole negotiation with the dispatcher on a worker thread.
//
// The owner calls Initialize, Start, then waits for the end with WaitFor (or
// Join, or by polling GetState until COMPLETE or FAILED, or by watching the
// state handler), then reads GetResult, GetRunReport and the negotiated
// values. The negotiated values may be read only after the run has ended.
// Cancel() ends a run within milliseconds from any thread; destroying the
// accessor during a run stops it after its current request.
//
// Nothing throws: running out of memory gives WS_ERROR_OUT_OF_MEMORY (on
// the worker: state FAILED with that code). Copying may throw
// std::bad_alloc, as copying a std::string does.
#ifndef VANTA_WEB_SERVICE_ACCESSOR_H_
#define VANTA_WEB_SERVICE_ACCESSOR_H_

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vanta/ErrorCode.h"
#include "vanta/Export.h"
#include "vanta/ThreadWrapper.h"
#include "vanta/WebService.h"

namespace vanta {

class VANTA_EXPORT WebServiceAccessor : public Runnable {
 public:
  struct State {
    enum type {
      IDLE = 0,
      REQUEST_TOKEN = 1,
      REQUEST_GAMESERVICE = 2,
      SEND_DEVICE_ID = 3,
      COMPLETE = 4,
      FAILED = 5,
    };
  };

  WebServiceAccessor();
  // Member-wise copies; the copied thread wrapper is not running.
  WebServiceAccessor(const WebServiceAccessor& other);
  WebServiceAccessor& operator=(const WebServiceAccessor& other);
  // Asks a running negotiation to stop and waits for the worker to end.
  ~WebServiceAccessor() override;

  // Stores the configuration, clears the negotiated values, the report and
  // a Cancel(), and prepares the worker thread. 0, WS_ERROR_THREAD_INITIALIZE,
  // WS_ERROR_OUT_OF_MEMORY, or WS_ERROR_FAILED for a null C string.
  // REQUIRES: the C strings are NUL-terminated; no run is going.
  ErrorCode Initialize(int client_version, const char* token, const char* arbiter_base_url,
                       int video_profile, int audio_profile, const char* gameid,
                       bool request_token_first, const char* zuc_key_value, int io_mouse,
                       int io_touch, int io_keyboard, int io_sensor, int io_gamepad,
                       int yuv_itu_r_bt);
  // 0 or WS_ERROR_THREAD_START.
  ErrorCode Start();
  ErrorCode Join(ErrorCode* result);
  ErrorCode GetResult() const;
  // Safe to poll from the owner's thread while the worker runs.
  State::type GetState();
  bool IsTermRequest();
  // The negotiation; runs on the worker thread.
  ErrorCode Run() override;

  // Ends the run as soon as possible, wherever it is: a retry wait at once,
  // an exchange in flight, the UUID helper and the wait for the identity
  // lock within milliseconds. The run then ends as aborted: state FAILED,
  // WS_ERROR_ABORTED, no request after it and no key file. Before Start it
  // makes the next run end that way at once; after the end it does nothing.
  // Safe on any thread, never blocks, may be called any number of times;
  // Initialize clears it. After it, destruction returns at once.
  void Cancel();

  // Blocks the calling thread, without spinning, until the run has ended or
  // timeout_ms milliseconds have passed (a negative timeout_ms: no limit).
  // True once the run has ended, or at once when no run is going; *result
  // (may be null) then holds the run's code.
  // REQUIRES: called on the owner's thread, not from the state handler.
  bool WaitFor(int timeout_ms, ErrorCode* result);

  // Called on the worker thread once for each state the run publishes, in
  // order, right after it is published. It must return quickly and must
  // not call Initialize, Start, Join, WaitFor or destroy the accessor
  // (Cancel, GetState and GetProgress are fine).
  using StateHandler = void (*)(State::type state, void* context);
  // nullptr removes the handler. REQUIRES: no run is going.
  void SetStateHandler(StateHandler handler, void* context);

  // false: the run skips the device identifier and its registration (it
  // goes from REQUEST_GAMESERVICE to COMPLETE and writes the key file).
  // Default true. REQUIRES: no run is going.
  void SetRegisterDeviceId(bool on);
  // The web API to register with: "https://host[:port]", without a path.
  // Empty (the default): the host the library was built for.
  // REQUIRES: no run is going.
  void SetWebApiOrigin(const std::string& origin);

  // One StepReport per step of the last run that ran, in order: why a run
  // failed, and what its last exchanges said. Empty before the first run
  // (and when there is no memory for the copy).
  // REQUIRES: no run is going.
  std::vector<StepReport> GetRunReport() const;
  // The step the run is in and its attempt, for a progress display that
  // counts every step's attempts (the states name only the stages). Safe on
  // any thread at any time, the state handler included. Before a run:
  // INITIALIZE and 0; after it, where it ended.
  StepProgress GetProgress() const;

  // Builds the device identifier and registers it with the key value of the
  // key file, on the calling thread. Reports nothing.
  void CreateAndSendDeviceId();

  // Builds the device identifier that a negotiation registers, on the
  // calling thread, without sending it. False, with *device_id untouched,
  // when it cannot be built; *reason (may be null) then says why.
  static bool BuildDeviceId(std::string* device_id, std::string* reason);

  // Lets the embedding program fill the environment entries before Start.
  WebService::ClientEnvironmentInfo& MutableClientEnvironmentInfo();

  // The configuration and the negotiated values.
  // REQUIRES: no run is going (before Start, or once GetState reads
  // COMPLETE or FAILED); the worker writes the negotiated values.
  int GetClientVersion() const { return client_version; }
  const std::string& GetToken() const { return token; }
  const std::string& GetGameid() const { return gameid; }
  const std::string& GetAccessToken() const { return access_token; }
  const std::string& GetZucKeyValue() const { return zuc_key_value; }
  int GetVideoProfile() const { return video_profile; }
  int GetAudioProfile() const { return audio_profile; }
  int GetIoMouse() const { return io_mouse; }
  int GetIoTouch() const { return io_touch; }
  int GetIoKeyboard() const { return io_keyboard; }
  int GetIoSensor() const { return io_sensor; }
  int GetIoGamepad() const { return io_gamepad; }
  const std::string& GetIpv4() const { return ipv4; }
  const std::string& GetIpv6() const { return ipv6; }
  int GetControlPort() const { return control_port; }
  int GetVideoPort() const { return video_port; }
  int GetAudioPort() const { return audio_port; }
  int GetInputPort() const { return input_port; }
  const std::string& GetKey1() const { return key1; }
  const std::string& GetKey2() const { return key2; }
  int GetYuvItuRBt() const { return yuv_itu_r_bt; }
  const WebService::QualityParams& GetQualityParams() const { return quality_params; }
  const WebService::ClientEnvironmentInfo& GetClientEnvironmentInfo() const {
    return client_environment_info;
  }
  bool GetRequestTokenFirst() const { return request_token_first; }
  const std::string& GetArbiterBaseUrl() const { return arbiter_base_url; }

 private:
  State::type SetState(State::type state);
  bool IsAbortRequested() const;
  ErrorCode RunRazever();
  // The steps of RunRazever: each returns the code that ends the run when
  // it is a failure (WS_ERROR_ABORTED when the run was stopped).
  ErrorCode SetUpService(WebService& service);
  ErrorCode RequestStep(StepReport::Step::type step, WebService& service,
                        const std::function<ErrorCode(int try_count)>& attempt);
  ErrorCode RegisterAndKeep(WebService& service);
  // Appends the identifier to buffer; false with *reason telling why not.
  bool CreateDeviceId(char* buffer, int size, const char** reason);
  void Record(StepReport::Step::type step, int attempts, ErrorCode code, std::string detail,
              const ExchangeReport& last);

  ThreadWrapper thread;
  std::atomic<int> state;  // a State::type, written by the worker
  int client_version;
  std::string token;
  std::string gameid;
  std::string access_token;
  std::string zuc_key_value;
  int video_profile;
  int audio_profile;
  int io_mouse;
  int io_touch;
  int io_keyboard;
  int io_sensor;
  int io_gamepad;
  std::string ipv4;
  std::string ipv6;
  int control_port;
  int video_port;
  int audio_port;
  int input_port;
  std::string key1;
  std::string key2;
  int yuv_itu_r_bt;
  WebService::QualityParams quality_params;
  WebService::ClientEnvironmentInfo client_environment_info;
  bool request_token_first;
  std::string arbiter_base_url;
  std::atomic<bool> abort_requested;  // set by the destructor, read by the worker
  // What the owner and the worker share to end a run early (accessor/).
  struct Control;
  std::unique_ptr<Control> control;
};

}  // namespace vanta

#endif  // VANTA_WEB_SERVICE_ACCESSOR_H_
