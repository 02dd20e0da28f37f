// Runs the whole negotiation with the dispatcher on a worker thread.
//
// The owner calls Initialize, Start, polls GetState until COMPLETE or FAILED
// (or calls Join), then reads GetResult and the negotiated values. The
// negotiated values may be read only after the run has ended. Destroying the
// accessor during a run stops it after its current request.
#ifndef VANTA_WEB_SERVICE_ACCESSOR_H_
#define VANTA_WEB_SERVICE_ACCESSOR_H_

#include <atomic>
#include <memory>
#include <string>

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

  // Stores the configuration, clears the negotiated values and prepares the
  // worker thread. 0 or WS_ERROR_THREAD_INITIALIZE.
  // REQUIRES: the C strings are valid and NUL-terminated; no run is going.
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
  bool CreateDeviceId(char* buffer, int size);

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
