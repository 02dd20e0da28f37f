// vanta negotiate: runs one whole negotiation with a WebServiceAccessor,
// shows its progress on stderr and prints the negotiated service as JSON.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <vanta/WebServiceAccessor.h>

#include "dispatcher/Addresses.h"
#include "tools/commands.h"
#include "tools/progress.h"
#include "tools/service_json.h"

#if !defined(VANTA_WEB_API_HOST)
#error "VANTA_WEB_API_HOST comes from the build setting of the same name"
#endif

namespace vanta {
namespace tools {
namespace {

struct NegotiateOptions {
  int client_version = 0;
  std::string token;
  std::string dispatcher = std::string("http://") + kLoopbackHost + ":" +
                           std::to_string(kDispatcherPort) + kDispatcherPath;
  std::string web_api_origin;
  bool no_register = false;
  double max_time = 0;  // seconds; 0: no limit
  std::string max_time_text;
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
  std::unordered_map<std::string, std::string> env;
};

// How a run that was waited for ended.
enum class Ending { kByItself, kInterrupted, kMaxTime };

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

// "the game service request failed after 2 attempts", "the key file step
// failed": what the step that ended the run did.
std::string StepOutcome(const StepReport* step, const char* ending) {
  if (step == nullptr) return std::string("the negotiation ") + ending;
  const std::string name = std::string("the ") + StepName(step->step);
  if (step->attempts == 0) return name + " step " + ending;
  return name + " request " + ending + " after " + std::to_string(step->attempts) +
         (step->attempts == 1 ? " attempt" : " attempts");
}

// The failure of a run that did not complete, with the step, its attempts,
// its last exchange and a hint.
int ReportRunFailure(const NegotiateOptions& options, bool token_first, ErrorCode result,
                     const std::vector<StepReport>& report) {
  const StepReport* step = FailedStep(report, result);
  const ExchangeReport* last = step != nullptr ? &step->last : nullptr;
  std::string hint = FailureHint(result, last, options.dispatcher);
  if (result == ErrorCode(WS_ERROR_SERVER_RESULT_2_5_6_7) && step != nullptr &&
      step->step == StepReport::Step::ACCESS_TOKEN && !token_first) {
    hint = "pass --request-token-first, or --token with the key value the dispatcher issued";
  }
  return ReportFailure("negotiate", StepOutcome(step, "failed"), result, last, hint);
}

// Sets the accessor up as the options say and starts its run.
ErrorCode Start(const NegotiateOptions& options, bool token_first, Progress* progress,
                WebServiceAccessor* accessor) {
  accessor->MutableClientEnvironmentInfo().entries = options.env;
  accessor->SetStateHandler(&Progress::OnState, progress);
  accessor->SetRegisterDeviceId(!options.no_register);
  accessor->SetWebApiOrigin(options.web_api_origin);
  const ErrorCode code = accessor->Initialize(
      options.client_version, options.token.c_str(), options.dispatcher.c_str(),
      options.video_profile, options.audio_profile, options.gameid.c_str(), token_first,
      options.zuc_key_value.c_str(), options.io_mouse, options.io_touch, options.io_keyboard,
      options.io_sensor, options.io_gamepad, options.yuv_itu_r_bt);
  return code.IsFailure() ? code : accessor->Start();
}

// Waits for the run to end, cancelling it on Ctrl-C or at --max-time. The
// worker always ends: every request has a time limit and at most three
// attempts.
Ending WaitForEnd(WebServiceAccessor* accessor, double max_time, Progress* progress,
                  ErrorCode* result) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(max_time > 0 ? max_time : 1e9));
  Ending ending = Ending::kByItself;
  std::signal(SIGINT, &OnInterrupt);
  for (;;) {
    const long long left_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (accessor->WaitFor(static_cast<int>(std::clamp<long long>(left_ms, 0, 100)), result)) break;
    if (ending == Ending::kByItself && (interrupted || Clock::now() >= deadline)) {
      ending = interrupted ? Ending::kInterrupted : Ending::kMaxTime;
      accessor->Cancel();
    }
    progress->Tick();
  }
  std::signal(SIGINT, SIG_DFL);
  progress->Finish();
  // A run that ended by itself at the same moment keeps its own result.
  return *result == ErrorCode(WS_ERROR_ABORTED) ? ending : Ending::kByItself;
}

int RunNegotiate(const NegotiateOptions& options, const Globals& globals) {
  // Without a token of its own the negotiation asks for one.
  const bool token_first = options.request_token_first || options.token.empty();
  TracePrinter trace(globals.verbose);
  // With -v the trace itself shows the progress.
  WebServiceAccessor accessor;
  Progress progress(&accessor, isatty(fileno(stderr)) != 0, !globals.quiet && !globals.verbose);
  const ErrorCode started = Start(options, token_first, &progress, &accessor);
  if (started.IsFailure()) {
    return ReportFailure("negotiate", "the run could not start", started, nullptr, "");
  }
  ErrorCode result;
  const Ending ending = WaitForEnd(&accessor, options.max_time, &progress, &result);
  const std::vector<StepReport> report = accessor.GetRunReport();
  if (ending == Ending::kInterrupted) {
    std::fprintf(stderr, "vanta negotiate: cancelled\n");
    return kExitInterrupted;
  }
  if (ending == Ending::kMaxTime) {
    std::fprintf(stderr, "vanta negotiate: --max-time %s ended the run: %s\n",
                 options.max_time_text.c_str(),
                 StepOutcome(FailedStep(report, result), "was stopped").c_str());
    return kExitMaxTime;
  }
  if (!globals.quiet) ShowSideSteps(report);
  if (accessor.GetState() != WebServiceAccessor::State::COMPLETE) {
    return ReportRunFailure(options, token_first, result, report);
  }
  std::printf("%s\n", ServiceJson(accessor).c_str());
  return kExitOk;
}

Option EnvOption(std::unordered_map<std::string, std::string>* env) {
  Option option{{"--env"},
                "KEY=VALUE",
                "Environment entry for the game service request (repeatable)",
                "",
                true,
                [env](const std::string& value) {
                  std::string key;
                  std::string entry;
                  if (!SplitKeyValue(value, &key, &entry)) return "not KEY=VALUE";
                  (*env)[key] = entry;
                  return "";
                }};
  return option;
}

Option MaxTimeOption(NegotiateOptions* options) {
  return Option{{"--max-time"},
                "SECONDS",
                "End the run after this many seconds, wherever it is (exit status 6)",
                "",
                false,
                [options](const std::string& value) {
                  options->max_time_text = value;
                  return ParseSeconds(value, &options->max_time)
                             ? ""
                             : "not a number of seconds greater than 0 and at most 86400";
                }};
}

// The options of the run: where it goes and what it presents.
std::vector<Option> RunOptions(NegotiateOptions* o) {
  Option origin = UrlOption({"--web-api-origin"}, UrlKind::kOrigin,
                            "Web API to register the device identifier with: https://host[:port]",
                            &o->web_api_origin);
  origin.default_text = "https://" VANTA_WEB_API_HOST;
  return {
      UrlOption({"--dispatcher", "--arbiter-base"}, UrlKind::kBase,
                "Dispatcher base address, ending with '/'; each request's name is appended to it",
                &o->dispatcher),
      TextOption({"--token"}, "TOKEN",
                 "Token to present with --zuc-key-value; without it a token is requested first",
                 &o->token),
      TextOption({"--zuc-key-value"}, "KEY",
                 "Key value that goes with --token (unless --request-token-first)",
                 &o->zuc_key_value),
      FlagOption({"--request-token-first"},
                 "Obtain a fresh token and key value before the access token",
                 &o->request_token_first),
      TextOption({"--gameid"}, "ID", "Game identifier sent with the token request", &o->gameid),
      IntOption({"--client-version"}, "N",
                "Client version number sent with every dispatcher request", &o->client_version),
      FlagOption({"--no-register"},
                 "Do not build or register the device identifier (the key file is written)",
                 &o->no_register),
      origin,
      MaxTimeOption(o),
  };
}

// The options of the game service request.
std::vector<Option> ServiceOptions(NegotiateOptions* o) {
  return {
      IntOption({"--video-profile"}, "N", "Video profile number", &o->video_profile),
      IntOption({"--audio-profile"}, "N", "Audio profile number", &o->audio_profile),
      IntOption({"--io-mouse"}, "N", "Mouse input value", &o->io_mouse),
      IntOption({"--io-touch"}, "N", "Touch input value", &o->io_touch),
      IntOption({"--io-keyboard"}, "N", "Keyboard input value", &o->io_keyboard),
      IntOption({"--io-sensor"}, "N", "Sensor input value", &o->io_sensor),
      IntOption({"--io-gamepad"}, "N", "Gamepad input value", &o->io_gamepad),
      IntOption({"--yuv-itu-r-bt"}, "N", "ITU-R BT recommendation number of the YUV conversion",
                &o->yuv_itu_r_bt),
      EnvOption(&o->env),
  };
}

}  // namespace

Command NegotiateCommand() {
  auto options = std::make_shared<NegotiateOptions>();
  // The accessor's own defaults.
  const WebServiceAccessor defaults;
  options->client_version = defaults.GetClientVersion();
  options->video_profile = defaults.GetVideoProfile();
  options->audio_profile = defaults.GetAudioProfile();
  options->io_mouse = defaults.GetIoMouse();
  options->io_touch = defaults.GetIoTouch();
  options->io_keyboard = defaults.GetIoKeyboard();
  options->io_sensor = defaults.GetIoSensor();
  options->io_gamepad = defaults.GetIoGamepad();
  options->yuv_itu_r_bt = defaults.GetYuvItuRBt();

  Command command;
  command.name = "negotiate";
  command.summary = "Run a whole negotiation and print the negotiated service";
  command.description =
      "Run a whole negotiation (token, access token, game service, device identifier "
      "registration) and print the negotiated service as JSON on stdout. Progress goes to "
      "stderr; Ctrl-C cancels the run.";
  command.options = RunOptions(options.get());
  for (Option& option : ServiceOptions(options.get())) command.options.push_back(option);
  command.exit_statuses = {{kExitOk, "the negotiated service was printed"},
                           kStatusFailed,
                           kStatusUsage,
                           kStatusUnreachable,
                           kStatusRefused,
                           kStatusBadAnswer,
                           {kExitMaxTime, "--max-time ended the run"},
                           {kExitInterrupted, "Ctrl-C ended the run"}};
  command.run = [options](const Globals& globals) { return RunNegotiate(*options, globals); };
  return command;
}

}  // namespace tools
}  // namespace vanta
