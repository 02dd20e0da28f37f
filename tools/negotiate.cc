// vanta negotiate: runs one whole negotiation with a WebServiceAccessor,
// shows its progress on stderr and prints the negotiated service as JSON.
#include <picojson.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
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

// Shows the negotiation's progress on stderr from the accessor's states: on
// a terminal one live line, otherwise one line per state and attempt.
class Progress {
 public:
  Progress(bool live, bool quiet) : live_(live), quiet_(quiet) {}

  // The state handler: on the worker thread, once per published state.
  static void OnState(WebServiceAccessor::State::type state, void* context) {
    static_cast<Progress*>(context)->Show(state);
  }

  // On the main thread while the worker runs.
  void Tick(double seconds) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!live_ || quiet_ || activity_.empty()) return;
    std::fprintf(stderr, "\r\033[Knegotiate: %s, %.1f s so far", activity_.c_str(), seconds);
    std::fflush(stderr);
  }

  void Finish() {
    std::lock_guard<std::mutex> lock(mu_);
    if (live_ && !quiet_ && !activity_.empty()) std::fputs("\r\033[K", stderr);
  }

 private:
  void Show(WebServiceAccessor::State::type state) {
    std::lock_guard<std::mutex> lock(mu_);
    if (state >= WebServiceAccessor::State::COMPLETE) return;
    // The game service and registration steps publish their state again
    // before each attempt.
    attempt_ = state == last_state_ ? attempt_ + 1 : 1;
    last_state_ = state;
    activity_ = StateMeaning(state);
    if (attempt_ > 1) activity_ += ", attempt " + std::to_string(attempt_) + " of 3";
    if (!quiet_ && !live_) std::fprintf(stderr, "negotiate: %s\n", activity_.c_str());
  }

  const bool live_;
  const bool quiet_;
  std::mutex mu_;
  int last_state_ = -1;
  int attempt_ = 0;
  std::string activity_;
};

// Set by Ctrl-C; the main thread then cancels the run.
volatile std::sig_atomic_t interrupted = 0;
extern "C" void OnInterrupt(int) { interrupted = 1; }

// What the run report says about the steps whose outcome does not change
// the result: the device identifier, the registration and the key file.
void ShowSideSteps(const std::vector<StepReport>& report) {
  for (const StepReport& step : report) {
    if (step.step == StepReport::Step::DEVICE_ID && step.code.IsFailure()) {
      std::fprintf(stderr, "negotiate: device identifier not built: %s\n", step.detail.c_str());
    } else if (step.step == StepReport::Step::REGISTRATION && step.code.IsFailure()) {
      std::fprintf(stderr,
                   "negotiate: registration gave up after %d attempt%s: %s (this does not "
                   "change the result)\n  last exchange: %s\n",
                   step.attempts, step.attempts == 1 ? "" : "s", DescribeCode(step.code).c_str(),
                   DescribeExchange(step.last).c_str());
    } else if (step.step == StepReport::Step::KEY_FILE && step.code.IsFailure()) {
      std::fprintf(stderr, "negotiate: key file not written: %s\n", step.detail.c_str());
    }
  }
}

// The step that ended a failed run, or null.
const StepReport* FailedStep(const std::vector<StepReport>& report, ErrorCode result) {
  for (auto step = report.rbegin(); step != report.rend(); ++step) {
    if (step->code == result) return &*step;
  }
  return nullptr;
}

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

// The failure of a run that did not complete, with the step, its attempts,
// its last exchange and a hint.
int ReportRunFailure(const NegotiateOptions& options, bool token_first, ErrorCode result,
                     const std::vector<StepReport>& report) {
  const StepReport* step = FailedStep(report, result);
  std::string what = "the negotiation failed";
  if (step != nullptr && step->attempts > 0) {
    what = std::string("the ") + StepName(step->step) + " request failed after " +
           std::to_string(step->attempts) + (step->attempts == 1 ? " attempt" : " attempts");
  } else if (step != nullptr) {
    what = std::string("the ") + StepName(step->step) + " step failed";
  }
  std::string hint;
  if (result == ErrorCode(WS_ERROR_SERVER_RESULT_2_5_6_7) && step != nullptr &&
      step->step == StepReport::Step::ACCESS_TOKEN && !token_first) {
    hint = "pass --request-token-first, or --token with the key value the dispatcher issued";
  } else if (!options.arbiter_base.empty() && options.arbiter_base.back() != '/') {
    hint =
        "the dispatcher base address does not end with '/'; each request's name is "
        "appended to it directly";
  } else {
    hint = ConnectionHint(result, options.arbiter_base);
  }
  return ReportFailure("negotiate", what, result, step != nullptr ? &step->last : nullptr, hint);
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
  TracePrinter trace(verbosity.verbose);
  // With -v the trace itself shows the progress.
  Progress progress(isatty(fileno(stderr)) != 0, verbosity.quiet || verbosity.verbose);
  accessor.SetStateHandler(&Progress::OnState, &progress);
  ErrorCode code = accessor.Initialize(
      options.client_version, options.token.c_str(), options.arbiter_base.c_str(),
      options.video_profile, options.audio_profile, options.gameid.c_str(), token_first,
      options.zuc_key_value.c_str(), options.io_mouse, options.io_touch, options.io_keyboard,
      options.io_sensor, options.io_gamepad, options.yuv_itu_r_bt);
  if (code.IsFailure()) return ReportFailure("negotiate", "Initialize failed", code, nullptr);
  std::signal(SIGINT, &OnInterrupt);
  code = accessor.Start();
  if (code.IsFailure()) return ReportFailure("negotiate", "Start failed", code, nullptr);

  // The worker always ends: every request has a time limit and at most
  // three attempts; Ctrl-C cancels it.
  const auto started = std::chrono::steady_clock::now();
  ErrorCode result;
  while (!accessor.WaitFor(100, &result)) {
    if (interrupted) accessor.Cancel();
    progress.Tick(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  }
  progress.Finish();
  std::signal(SIGINT, SIG_DFL);
  const std::vector<StepReport> report = accessor.GetRunReport();
  if (interrupted && result == ErrorCode(WS_ERROR_ABORTED)) {
    std::fprintf(stderr, "vanta negotiate: cancelled\n");
    return kExitInterrupted;
  }
  if (!verbosity.quiet) ShowSideSteps(report);
  if (accessor.GetState() != WebServiceAccessor::State::COMPLETE) {
    return ReportRunFailure(options, token_first, result, report);
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
