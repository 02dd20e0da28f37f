// vanta negotiate: runs one whole negotiation with a WebServiceAccessor,
// shows its progress on stderr and prints the negotiated service as JSON.
#include <picojson.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/commands.h"
#include "tools/key_value.h"
#include "tools/reference_addresses.h"
#include "vanta/WebServiceAccessor.h"

namespace vanta {
namespace tools {
namespace {

struct NegotiateOptions {
  int client_version = 0;
  std::string token;
  std::string arbiter_base = std::string("http://") + kLoopbackHost + ":" +
                             std::to_string(kDispatcherPort) + kDispatcherPath;
  int video_profile = 0;
  int audio_profile = 0;
  std::string gameid;
  bool request_token_first = false;
  std::string zuc_key_value;
  int io_mouse = 0;
  int io_touch = 0;
  int io_keyboard = 0;
  int io_sensor = 0;
  int io_gamepad = 0;
  int yuv_itu_r_bt = 0;
  std::vector<std::string> env;
};

const char* StateName(int state) {
  static const char* const kNames[] = {"IDLE",           "REQUEST_TOKEN", "REQUEST_GAMESERVICE",
                                       "SEND_DEVICE_ID", "COMPLETE",      "FAILED"};
  return state >= 0 && state <= 5 ? kNames[state] : "UNKNOWN";
}

const char* StateMeaning(int state) {
  static const char* const kMeanings[] = {"not started",          "token and access token requests",
                                          "game service request", "device identifier registration",
                                          "negotiation complete", "negotiation failed"};
  return state >= 0 && state <= 5 ? kMeanings[state] : "unknown state";
}

// Shows the accessor's state while the worker runs: one live line on a
// terminal, otherwise one line per change of state.
class Progress {
 public:
  explicit Progress(std::FILE* out) : out_(out), live_(isatty(fileno(out)) != 0) {}

  // Called on every poll. IDLE is not shown: it only means that the worker
  // has not begun yet.
  void Show(int state, double seconds) {
    if (state == WebServiceAccessor::State::IDLE) return;
    bool changed = state != last_state_;
    last_state_ = state;
    if (live_) {
      std::fprintf(out_, "\r\033[Kstate %d %s (%s)  %.1f s", state, StateName(state),
                   StateMeaning(state), seconds);
    } else if (changed) {
      std::fprintf(out_, "negotiate: state %d %s (%s) at %.1f s\n", state, StateName(state),
                   StateMeaning(state), seconds);
    }
    if (changed && state == WebServiceAccessor::State::SEND_DEVICE_ID && !registration_told_) {
      registration_told_ = true;
      if (live_) std::fputc('\n', out_);
      std::fprintf(out_,
                   "negotiate: registering the device identifier with the web API "
                   "(often unreachable from a development machine; up to 3 attempts, 2 s and "
                   "3 s apart; the outcome does not change the result)...\n");
    }
    std::fflush(out_);
  }

  void Finish() {
    if (live_) std::fputc('\n', out_);
    std::fflush(out_);
  }

 private:
  std::FILE* out_;
  bool live_;
  int last_state_ = -1;
  bool registration_told_ = false;
};

picojson::value Number(int value) { return picojson::value(static_cast<double>(value)); }

picojson::value QualityJson(const WebService::QualityParams& quality) {
  int video_count = std::clamp(quality.video_level_count, 0, WebService::MAX_QUALITY_SETTING_LEVEL);
  int audio_count = std::clamp(quality.audio_level_count, 0, WebService::MAX_QUALITY_SETTING_LEVEL);
  picojson::array video;
  for (int level = 0; level < video_count; ++level) {
    picojson::object entry;
    entry["level"] = Number(level);
    entry["fps"] = Number(quality.video[level].fps);
    entry["resolution_ratio"] = Number(quality.video[level].resolution_ratio);
    entry["bitrate_ratio"] = Number(quality.video[level].bitrate_ratio);
    video.emplace_back(entry);
  }
  picojson::array audio_bitrate;
  for (int level = 0; level < audio_count; ++level) {
    audio_bitrate.push_back(Number(quality.audio_bitrate[level]));
  }
  picojson::object members;
  members["version"] = Number(quality.version);
  members["video_level_count"] = Number(quality.video_level_count);
  members["audio_level_count"] = Number(quality.audio_level_count);
  members["video"] = picojson::value(video);
  members["audio_bitrate"] = picojson::value(audio_bitrate);
  return picojson::value(members);
}

// The negotiated service, as the accessor holds it after a complete run.
std::string ServiceJson(const WebServiceAccessor& accessor) {
  picojson::object members;
  members["ipv4"] = picojson::value(accessor.GetIpv4());
  members["ipv6"] = picojson::value(accessor.GetIpv6());
  members["control_port"] = Number(accessor.GetControlPort());
  members["video_port"] = Number(accessor.GetVideoPort());
  members["audio_port"] = Number(accessor.GetAudioPort());
  members["input_port"] = Number(accessor.GetInputPort());
  members["key1"] = picojson::value(accessor.GetKey1());
  members["key2"] = picojson::value(accessor.GetKey2());
  members["access_token"] = picojson::value(accessor.GetAccessToken());
  members["token"] = picojson::value(accessor.GetToken());
  members["zuc_key_value"] = picojson::value(accessor.GetZucKeyValue());
  members["quality"] = QualityJson(accessor.GetQualityParams());
  return picojson::value(members).serialize(true);
}

int RunNegotiate(const NegotiateOptions& options) {
  WebServiceAccessor accessor;
  for (const std::string& entry : options.env) {
    std::string key;
    std::string value;
    if (!SplitKeyValue(entry, &key, &value)) {
      std::fprintf(stderr, "vanta negotiate: --env wants KEY=VALUE, not '%s'\n", entry.c_str());
      return kExitUsage;
    }
    accessor.MutableClientEnvironmentInfo().entries[key] = value;
  }
  ErrorCode code = accessor.Initialize(options.client_version, options.token.c_str(),
                                       options.arbiter_base.c_str(), options.video_profile,
                                       options.audio_profile, options.gameid.c_str(),
                                       options.request_token_first, options.zuc_key_value.c_str(),
                                       options.io_mouse, options.io_touch, options.io_keyboard,
                                       options.io_sensor, options.io_gamepad, options.yuv_itu_r_bt);
  if (code.IsFailure()) return FailWithCode("negotiate", "Initialize failed", code);
  code = accessor.Start();
  if (code.IsFailure()) return FailWithCode("negotiate", "Start failed", code);

  // The worker always ends: every request has a time limit and at most
  // three attempts.
  // Polling every millisecond catches the short states of a run against a
  // local dispatcher; the live line is redrawn only on a change or every
  // tenth of a second.
  Progress progress(stderr);
  auto started = std::chrono::steady_clock::now();
  int shown_state = -1;
  double shown_at = 0;
  for (;;) {
    int state = accessor.GetState();
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    if (state != shown_state || elapsed.count() - shown_at >= 0.1) {
      progress.Show(state, elapsed.count());
      shown_state = state;
      shown_at = elapsed.count();
    }
    if (state == WebServiceAccessor::State::COMPLETE ||
        state == WebServiceAccessor::State::FAILED) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  progress.Finish();
  ErrorCode result;
  accessor.Join(&result);
  if (accessor.GetState() != WebServiceAccessor::State::COMPLETE) {
    return FailWithCode("negotiate", "the negotiation failed", result);
  }
  std::printf("%s\n", ServiceJson(accessor).c_str());
  return kExitOk;
}

}  // namespace

void AddNegotiateCommand(CLI::App& app, CommandRun* run) {
  auto options = std::make_shared<NegotiateOptions>();
  // The accessor's own defaults.
  WebServiceAccessor defaults;
  options->client_version = defaults.GetClientVersion();
  options->video_profile = defaults.GetVideoProfile();
  options->audio_profile = defaults.GetAudioProfile();
  options->io_mouse = defaults.GetIoMouse();
  options->io_touch = defaults.GetIoTouch();
  options->io_keyboard = defaults.GetIoKeyboard();
  options->io_sensor = defaults.GetIoSensor();
  options->io_gamepad = defaults.GetIoGamepad();
  options->yuv_itu_r_bt = defaults.GetYuvItuRBt();

  CLI::App* sub = app.add_subcommand(
      "negotiate",
      "Run a whole negotiation (token, access token, game service, device identifier "
      "registration) and print the negotiated service as JSON on stdout.");
  sub->add_option("--client-version", options->client_version,
                  "Client version number sent with every dispatcher request")
      ->capture_default_str();
  sub->add_option("--token", options->token,
                  "Token to present (used as is unless --request-token-first)");
  sub->add_option("--arbiter-base", options->arbiter_base,
                  "Dispatcher base address; each request's name is appended to it")
      ->capture_default_str();
  sub->add_option("--video-profile", options->video_profile, "Video profile number")
      ->capture_default_str();
  sub->add_option("--audio-profile", options->audio_profile, "Audio profile number")
      ->capture_default_str();
  sub->add_option("--gameid", options->gameid, "Game identifier sent with the token request");
  sub->add_flag("--request-token-first", options->request_token_first,
                "Obtain a fresh token and key value before the access token");
  sub->add_option("--zuc-key-value", options->zuc_key_value,
                  "Key value that goes with --token (unless --request-token-first)");
  sub->add_option("--io-mouse", options->io_mouse, "Mouse input value")->capture_default_str();
  sub->add_option("--io-touch", options->io_touch, "Touch input value")->capture_default_str();
  sub->add_option("--io-keyboard", options->io_keyboard, "Keyboard input value")
      ->capture_default_str();
  sub->add_option("--io-sensor", options->io_sensor, "Sensor input value")->capture_default_str();
  sub->add_option("--io-gamepad", options->io_gamepad, "Gamepad input value")
      ->capture_default_str();
  sub->add_option("--yuv-itu-r-bt", options->yuv_itu_r_bt,
                  "ITU-R BT recommendation number of the YUV conversion")
      ->capture_default_str();
  sub->add_option("--env", options->env,
                  "KEY=VALUE environment entry for the game service request (repeatable)");
  sub->callback([options, run] { *run = [options] { return RunNegotiate(*options); }; });
}

}  // namespace tools
}  // namespace vanta
