// vanta negotiate: runs one whole negotiation with a WebServiceAccessor,
// shows its progress on stderr and prints the negotiated service as JSON.
#include <picojson.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <vanta/WebServiceAccessor.h>

#include "dispatcher/Addresses.h"
#include "tools/commands.h"
#include "tools/key_value.h"

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
  Verbosity verbosity;
};

// What each state of the accessor means to the user.
const char* StateMeaning(int state) {
  static const char* const kMeanings[] = {"starting",
                                          "requesting the token and access token",
                                          "requesting the game service",
                                          "registering the device identifier with the web API",
                                          "complete",
                                          "failed"};
  return state >= 0 && state <= 5 ? kMeanings[state] : "in an unknown state";
}

// Shows the negotiation's progress on stderr from the library's trace: on a
// terminal one live line, otherwise one line per state, attempt, wait and
// outcome, so that no wait is silent.
class Progress {
 public:
  Progress(bool live, bool quiet) : live_(live), quiet_(quiet) {}

  // On the library's threads: one trace line.
  void OnTrace(const std::string& line) {
    std::lock_guard<std::mutex> lock(mu_);
    int state = 0;
    if (std::sscanf(line.c_str(), "state %d", &state) == 1) {
      if (state == 0) return;  // Initialize: nothing has started yet
      activity_ = StateMeaning(state);
      if (state < 4) Say(activity_, false);
    } else if (line.find(": attempt ") != std::string::npos) {
      activity_ = line;
      Say(line, false);
    } else if (line.find(": gave up after ") != std::string::npos) {
      failed_step_ = line.substr(0, line.find(':'));
      failed_attempts_ = line.substr(line.find(" after ") + 7);
      failed_attempts_ = failed_attempts_.substr(0, failed_attempts_.find(':'));
      if (failed_step_ == "registration") Say(line + " (this does not change the result)", true);
    } else if (line.rfind("registration: done", 0) == 0 ||
               line.rfind("device identifier: not built", 0) == 0 ||
               line.rfind("key file", 0) == 0) {
      Say(line, true);
    }
  }

  // On the main thread while the worker runs.
  void Tick(double seconds) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!live_ || quiet_ || activity_.empty()) return;
    std::fprintf(stderr, "\r\033[Knegotiate: %s  %.1f s", activity_.c_str(), seconds);
    std::fflush(stderr);
  }

  void Finish() {
    std::lock_guard<std::mutex> lock(mu_);
    if (live_ && !quiet_ && !activity_.empty()) std::fputs("\r\033[K", stderr);
  }

  // The step that gave up ("access token") and how many attempts it made
  // ("3 attempts"); empty when none did.
  std::string FailedStep() const {
    std::lock_guard<std::mutex> lock(mu_);
    return failed_step_.empty() ? "" : failed_step_ + " request failed after " + failed_attempts_;
  }
  bool AccessTokenRefused() const {
    std::lock_guard<std::mutex> lock(mu_);
    return failed_step_ == "access token";
  }

 private:
  // Prints a line; on a terminal only outcomes are kept as lines of their
  // own, the rest shows in the live line.
  void Say(const std::string& text, bool outcome) {
    if (quiet_ || (live_ && !outcome)) return;
    std::fprintf(stderr, "%snegotiate: %s\n", live_ ? "\r\033[K" : "", text.c_str());
  }

  const bool live_;
  const bool quiet_;
  mutable std::mutex mu_;
  std::string activity_;
  std::string failed_step_;
  std::string failed_attempts_;
};

// Why the dispatcher base cannot be used, or "" when it can: a scheme of
// http or https and a host.
std::string BaseProblem(const std::string& base) {
  const size_t scheme_end = base.find("://");
  if (scheme_end == std::string::npos) return "it has no scheme (http:// or https://)";
  std::string scheme = base.substr(0, scheme_end);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (scheme != "http" && scheme != "https") return "the scheme must be http or https";
  const std::string rest = base.substr(scheme_end + 3);
  if (rest.empty() || rest[0] == '/' || rest[0] == ':') return "it has no host";
  return "";
}

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
  const std::string problem = BaseProblem(options.arbiter_base);
  if (!problem.empty()) {
    std::fprintf(stderr, "vanta negotiate: --arbiter-base '%s': %s\n", options.arbiter_base.c_str(),
                 problem.c_str());
    return kExitUsage;
  }
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
  // Without a token of its own the negotiation asks for one.
  const bool token_first = options.request_token_first || options.token.empty();
  const Verbosity& verbosity = options.verbosity;
  // With -v the trace itself shows the progress.
  Progress progress(isatty(fileno(stderr)) != 0, verbosity.quiet || verbosity.verbose);
  TraceWatch trace(verbosity.verbose, [&](const std::string& line) { progress.OnTrace(line); });
  ErrorCode code = accessor.Initialize(
      options.client_version, options.token.c_str(), options.arbiter_base.c_str(),
      options.video_profile, options.audio_profile, options.gameid.c_str(), token_first,
      options.zuc_key_value.c_str(), options.io_mouse, options.io_touch, options.io_keyboard,
      options.io_sensor, options.io_gamepad, options.yuv_itu_r_bt);
  if (code.IsFailure()) return ReportFailure("negotiate", "Initialize failed", code, trace);
  code = accessor.Start();
  if (code.IsFailure()) return ReportFailure("negotiate", "Start failed", code, trace);

  // The worker always ends: every request has a time limit and at most
  // three attempts.
  const auto started = std::chrono::steady_clock::now();
  while (accessor.GetState() != WebServiceAccessor::State::COMPLETE &&
         accessor.GetState() != WebServiceAccessor::State::FAILED) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    progress.Tick(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  }
  ErrorCode result;
  accessor.Join(&result);
  progress.Finish();
  if (accessor.GetState() != WebServiceAccessor::State::COMPLETE) {
    std::string hint;
    if (result == ErrorCode(WS_ERROR_SERVER_RESULT_2_5_6_7) && progress.AccessTokenRefused() &&
        !token_first) {
      hint = "pass --request-token-first, or --token with the key value the dispatcher issued";
    } else if (!options.arbiter_base.empty() && options.arbiter_base.back() != '/') {
      hint =
          "the dispatcher base address does not end with '/'; each request's name is "
          "appended to it directly";
    } else {
      hint = ConnectionHint(result, options.arbiter_base);
    }
    const std::string step = progress.FailedStep();
    return ReportFailure("negotiate", step.empty() ? "the negotiation failed" : "the " + step,
                         result, trace, hint);
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
                  "Token to present with --zuc-key-value; without it a token is requested "
                  "first");
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
  AddVerbosityFlags(sub, &options->verbosity);
  sub->footer(kExitStatusHelp);
  sub->callback([options, run] { *run = [options] { return RunNegotiate(*options); }; });
}

}  // namespace tools
}  // namespace vanta
