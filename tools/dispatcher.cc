// vanta dispatcher: reads its options into the reference dispatcher's
// configuration and runs it (dispatcher/Dispatcher.h).
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "dispatcher/Dispatcher.h"
#include "tools/commands.h"
#include "tools/key_value.h"

namespace vanta {
namespace tools {
namespace {

using dispatcher::FaultKind;
using dispatcher::GameService;

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
  dispatcher::Config config;
  std::string service_file;
  GameService given;  // values of the game service options
  bool no_config = false;
  std::vector<std::string> issue;
  std::vector<std::string> faults[3];  // --refuse, --http-status, --delay
};

const std::pair<const char*, FaultKind> kFaultOptions[] = {
    {"--refuse", FaultKind::kRefuse},
    {"--http-status", FaultKind::kHttpStatus},
    {"--delay", FaultKind::kDelay},
};

int Usage(const std::string& message) {
  std::fprintf(stderr, "vanta dispatcher: %s\n", message.c_str());
  return kExitUsage;
}

// The game service: defaults, then the service file, then the options given.
bool BuildGameService(const DispatcherOptions& options, const CLI::App& sub, GameService* service,
                      std::string* error) {
  service->config = dispatcher::DefaultQualityConfig();
  if (!options.service_file.empty()) {
    std::ifstream in(options.service_file);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
      *error = "cannot read " + options.service_file;
      return false;
    }
    if (!dispatcher::ReadGameService(text.str(), service, error)) {
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

// The KEY=VALUE options into the configuration.
bool ReadPairs(const DispatcherOptions& options, dispatcher::Config* config, std::string* error) {
  for (const std::string& entry : options.issue) {
    std::string token;
    std::string key_value;
    if (!SplitKeyValue(entry, &token, &key_value)) {
      *error = "--issue wants TOKEN=KEY_VALUE, not '" + entry + "'";
      return false;
    }
    config->issued.emplace_back(token, key_value);
  }
  for (size_t i = 0; i < std::size(kFaultOptions); ++i) {
    for (const std::string& entry : options.faults[i]) {
      std::string number;
      dispatcher::FaultEntry fault{kFaultOptions[i].second, "", 0};
      if (!SplitKeyValue(entry, &fault.action, &number) || !ParseInt(number, &fault.number)) {
        *error = std::string(kFaultOptions[i].first) + " wants ACTION=NUMBER, not '" + entry + "'";
        return false;
      }
      config->faults.push_back(fault);
    }
  }
  return true;
}

int RunDispatcher(const DispatcherOptions& options, const CLI::App& sub) {
  dispatcher::Config config = options.config;
  std::string error;
  if (!BuildGameService(options, sub, &config.service, &error) ||
      !ReadPairs(options, &config, &error)) {
    return Usage(error);
  }
  switch (dispatcher::Run(config, &error)) {
    case dispatcher::Outcome::kStopped:
      return kExitOk;
    case dispatcher::Outcome::kUnusable:
      return Usage(error);
    case dispatcher::Outcome::kFailed:
      break;
  }
  std::fprintf(stderr, "vanta dispatcher: %s\n", error.c_str());
  return kExitFailed;
}

std::string Description() {
  const dispatcher::Limits limits;
  return "Run the reference dispatcher and launcher monitor until Ctrl-C (SIGINT or SIGTERM), "
         "logging one line per request on stderr. Refusals: result 1 for a malformed request, "
         "2 for a token or access token not issued here (of each, the newest " +
         std::to_string(dispatcher::DispatcherBook::kKeptIssued) +
         " are kept). GET /reports on the monitor port lists the last reports. A request must "
         "arrive whole within " +
         std::to_string(limits.request_deadline.count() / 1000) +
         " s, its body sent with a Content-Length and at most " +
         std::to_string(limits.max_body_bytes / 1024) +
         " KiB; otherwise HTTP 400, 408, 411, 413, 415 or 431 answers it and the connection "
         "closes (503 while too many unfinished requests are held).";
}

void AddAddressOptions(CLI::App* sub, dispatcher::Config* config) {
  dispatcher::ServerAddresses& addresses = config->addresses;
  sub->add_option("--listen", addresses.hosts,
                  "IPv4 or IPv6 address to listen on (repeatable; default 127.0.0.1 and ::1, "
                  "the latter where the machine has it)");
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
  sub->add_option("--ready-file", config->ready_file,
                  "While listening, this file holds dispatcher_port=N and monitor_port=N lines");
}

void AddServiceOptions(CLI::App* sub, DispatcherOptions* options) {
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
}

void AddFaultOptions(CLI::App* sub, DispatcherOptions* options) {
  sub->add_option("--issue", options->issue,
                  "TOKEN=KEY_VALUE pair to accept as if issued here (repeatable)");
  const char* const fault_help[] = {
      "ACTION=RESULT: answer ACTION with status ng and this result (repeatable)",
      "ACTION=STATUS: answer ACTION with this HTTP status, 400 to 599 (repeatable)",
      "ACTION=MS: wait MS milliseconds before answering ACTION (repeatable)"};
  for (size_t i = 0; i < std::size(kFaultOptions); ++i) {
    sub->add_option(kFaultOptions[i].first, options->faults[i], fault_help[i]);
  }
  sub->add_option("--fault-count", options->config.fault_count,
                  "Faults hit only the first N requests of each action; 0 means all")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
}

}  // namespace

void AddDispatcherCommand(CLI::App& app, CommandRun* run) {
  auto options = std::make_shared<DispatcherOptions>();
  CLI::App* sub = app.add_subcommand("dispatcher", Description());
  AddAddressOptions(sub, &options->config);
  AddServiceOptions(sub, options.get());
  AddFaultOptions(sub, options.get());
  sub->footer(
      "ACTION is request_token, request_accesstoken, request_gameservice or monitor. "
      "Port 0 prints the chosen ports on stdout.");
  sub->callback(
      [options, run, sub] { *run = [options, sub] { return RunDispatcher(*options, *sub); }; });
}

}  // namespace tools
}  // namespace vanta
