// vanta dispatcher: runs the reference dispatcher and launcher monitor on
// 127.0.0.1 until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tools/commands.h"
#include "tools/dispatcher_book.h"
#include "tools/dispatcher_server.h"
#include "tools/fault_plan.h"
#include "tools/key_value.h"

namespace vanta {
namespace tools {
namespace {

// The game service options; each one given overrides the service file.
const std::pair<const char*, std::string GameService::*> kTextOptions[] = {
    {"--ipv4", &GameService::ipv4},
    {"--ipv6", &GameService::ipv6},
    {"--key1", &GameService::key1},
    {"--key2", &GameService::key2},
};
const std::pair<const char*, int GameService::*> kPortOptions[] = {
    {"--control-port", &GameService::control_port},
    {"--video-port", &GameService::video_port},
    {"--audio-port", &GameService::audio_port},
    {"--input-port", &GameService::input_port},
};

struct DispatcherOptions {
  ServerAddresses addresses;
  std::string ready_file;
  std::string service_file;
  GameService given;  // values of the game service options
  bool no_config = false;
  std::vector<std::string> issue;
  std::vector<std::string> refuse;
  std::vector<std::string> http_status;
  std::vector<std::string> delay;
  int fault_count = 0;
};

int Usage(const std::string& message) {
  std::fprintf(stderr, "vanta dispatcher: %s\n", message.c_str());
  return kExitUsage;
}

// The game service: defaults, then the service file, then the options given.
bool BuildGameService(const DispatcherOptions& options, const CLI::App& sub, GameService* service,
                      std::string* error) {
  service->config = DefaultQualityConfig();
  if (!options.service_file.empty()) {
    std::ifstream in(options.service_file);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
      *error = "cannot read " + options.service_file;
      return false;
    }
    if (!ReadGameService(text.str(), service, error)) {
      *error = options.service_file + ": " + *error;
      return false;
    }
  }
  for (const auto& [name, member] : kTextOptions) {
    if (sub.count(name) > 0) service->*member = options.given.*member;
  }
  for (const auto& [name, member] : kPortOptions) {
    if (sub.count(name) > 0) service->*member = options.given.*member;
  }
  if (options.no_config) service->config = picojson::value();
  return true;
}

bool BuildFaultPlan(const DispatcherOptions& options, FaultPlan* plan, std::string* error) {
  const std::pair<const std::vector<std::string>*, FaultKind> lists[] = {
      {&options.refuse, FaultKind::kRefuse},
      {&options.http_status, FaultKind::kHttpStatus},
      {&options.delay, FaultKind::kDelay},
  };
  for (const auto& [entries, kind] : lists) {
    for (const std::string& entry : *entries) {
      if (!plan->Add(kind, entry, error)) return false;
    }
  }
  plan->SetCount(options.fault_count);
  return true;
}

// Writes the chosen ports to path in one step, so that a reader never sees
// half a file.
bool WriteReadyFile(const std::string& path, int dispatcher_port, int monitor_port) {
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << "dispatcher_port=" << dispatcher_port << "\nmonitor_port=" << monitor_port << "\n";
    if (!out.flush()) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

int RunDispatcher(const DispatcherOptions& options, const CLI::App& sub) {
  const std::string& path = options.addresses.dispatcher_path;
  if (path.empty() || path.front() != '/' || path.back() != '/') {
    return Usage("--path must begin and end with /");
  }
  if (options.addresses.monitor_path.empty() || options.addresses.monitor_path.front() != '/') {
    return Usage("--monitor-path must begin with /");
  }
  GameService service;
  std::string error;
  if (!BuildGameService(options, sub, &service, &error)) return Usage(error);
  std::vector<std::string> actions = DispatcherActions();
  actions.push_back(kMonitorAction);
  FaultPlan faults(actions);
  if (!BuildFaultPlan(options, &faults, &error)) return Usage(error);
  DispatcherBook book(std::move(service));
  for (const std::string& entry : options.issue) {
    std::string token;
    std::string key_value;
    if (!SplitKeyValue(entry, &token, &key_value)) {
      return Usage("--issue wants TOKEN=KEY_VALUE, not '" + entry + "'");
    }
    book.Issue(token, key_value);
  }
  MonitorBook monitor;

  // The serving threads inherit this mask, so the signals reach only the
  // sigwait below.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  DispatcherServer server(&book, &monitor, &faults, stderr);
  if (!server.Bind(options.addresses, &error)) {
    std::fprintf(stderr, "vanta dispatcher: %s\n", error.c_str());
    return kExitFailed;
  }
  server.Start();
  std::printf("dispatcher http://127.0.0.1:%d%s\nmonitor http://127.0.0.1:%d%s\n",
              server.dispatcher_port(), path.c_str(), server.monitor_port(),
              options.addresses.monitor_path.c_str());
  std::fflush(stdout);
  if (!options.ready_file.empty() &&
      !WriteReadyFile(options.ready_file, server.dispatcher_port(), server.monitor_port())) {
    std::fprintf(stderr, "vanta dispatcher: cannot write %s\n", options.ready_file.c_str());
    return kExitFailed;
  }

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  std::fprintf(stderr, "dispatcher: stopping on signal %d\n", signal_number);
  server.Stop();
  // Gone with the listeners: the ports it names are free again.
  if (!options.ready_file.empty()) std::remove(options.ready_file.c_str());
  return kExitOk;
}

}  // namespace

void AddDispatcherCommand(CLI::App& app, CommandRun* run) {
  auto options = std::make_shared<DispatcherOptions>();
  const ListenerLimits limits;
  CLI::App* sub = app.add_subcommand(
      "dispatcher",
      "Run the reference dispatcher and launcher monitor on 127.0.0.1 until SIGINT or SIGTERM, "
      "logging one line per request on stderr. Refusals: result 1 for a malformed request, 2 for "
      "a token or access token not issued here (of each, the newest " +
          std::to_string(DispatcherBook::kKeptIssued) +
          " are kept). GET /reports on the monitor port lists the last reports. A request must "
          "arrive whole within " +
          std::to_string(limits.request_deadline.count() / 1000) +
          " s, its body sent with a Content-Length and at most " +
          std::to_string(limits.max_body_bytes / 1024) +
          " KiB; otherwise HTTP 408, 411, 413 or 415 answers it and the connection closes.");
  ServerAddresses& addresses = options->addresses;
  sub->add_option("--port", addresses.dispatcher_port, "Dispatcher port; 0 picks a free one")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  sub->add_option("--path", addresses.dispatcher_path,
                  "Dispatcher base path; the request's name follows it")
      ->capture_default_str();
  sub->add_option("--monitor-port", addresses.monitor_port,
                  "Launcher monitor port; 0 picks a free one")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  sub->add_option("--monitor-path", addresses.monitor_path, "Launcher monitor report path")
      ->capture_default_str();
  sub->add_option("--ready-file", options->ready_file,
                  "While listening, this file holds dispatcher_port=N and monitor_port=N lines");
  sub->add_option("--service-file", options->service_file,
                  "JSON object with the game service (ipv4, ipv6, *_port, key1, key2, config)");
  const char* const text_help[] = {"Game service IPv4 address", "Game service IPv6 address",
                                   "Game service key1 (default: random per answer)",
                                   "Game service key2 (default: random per answer)"};
  for (size_t i = 0; i < std::size(kTextOptions); ++i) {
    sub->add_option(kTextOptions[i].first, options->given.*kTextOptions[i].second, text_help[i])
        ->capture_default_str();
  }
  const char* const port_help[] = {"Game service control port", "Game service video port",
                                   "Game service audio port", "Game service input port"};
  for (size_t i = 0; i < std::size(kPortOptions); ++i) {
    sub->add_option(kPortOptions[i].first, options->given.*kPortOptions[i].second, port_help[i])
        ->capture_default_str();
  }
  sub->add_flag("--no-config", options->no_config,
                "Send no quality \"config\" (default: three levels of version 1)");
  sub->add_option("--issue", options->issue,
                  "TOKEN=KEY_VALUE pair to accept as if issued here (repeatable)");
  sub->add_option("--refuse", options->refuse,
                  "ACTION=RESULT: answer ACTION with status ng and this result (repeatable)");
  sub->add_option("--http-status", options->http_status,
                  "ACTION=STATUS: answer ACTION with this HTTP status, 400 to 599 (repeatable)");
  sub->add_option("--delay", options->delay,
                  "ACTION=MS: wait MS milliseconds before answering ACTION (repeatable)");
  sub->add_option("--fault-count", options->fault_count,
                  "Faults hit only the first N requests of each action; 0 means all")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  sub->footer(
      "ACTION is request_token, request_accesstoken, request_gameservice or monitor. "
      "Port 0 prints the chosen ports on stdout.");
  sub->callback(
      [options, run, sub] { *run = [options, sub] { return RunDispatcher(*options, *sub); }; });
}

}  // namespace tools
}  // namespace vanta
