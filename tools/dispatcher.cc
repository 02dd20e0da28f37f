// vanta dispatcher: reads its options into the reference dispatcher's
// configuration and runs it (dispatcher/Dispatcher.h).
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "dispatcher/Dispatcher.h"
#include "tools/commands.h"

namespace vanta {
namespace tools {
namespace {

using dispatcher::FaultKind;
using dispatcher::GameService;

struct DispatcherOptions {
  dispatcher::Config config;
  std::string service_file;
  GameService given;                // values of the game service options
  std::set<std::string> overrides;  // the game service options given
  bool no_config = false;
};

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

struct FaultOption {
  const char* name;
  const char* value_name;
  FaultKind kind;
  const char* help;
};
const FaultOption kFaultOptions[] = {
    {"--refuse", "ACTION=RESULT", FaultKind::kRefuse,
     "Answer ACTION with status ng and this result (repeatable)"},
    {"--http-status", "ACTION=STATUS", FaultKind::kHttpStatus,
     "Answer ACTION with this HTTP status, 400 to 599 (repeatable)"},
    {"--delay", "ACTION=MS", FaultKind::kDelay,
     "Wait MS milliseconds before answering ACTION (repeatable)"},
};

int Usage(const std::string& message) {
  std::fprintf(stderr, "vanta dispatcher: %s\n", message.c_str());
  return kExitUsage;
}

// The game service: defaults, then the service file, then the options given.
bool BuildGameService(const DispatcherOptions& options, GameService* service, std::string* error) {
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
    if (options.overrides.count(name) > 0) service->*member = options.given.*member;
  }
  for (const auto& [name, member] : kPortOptions) {
    if (options.overrides.count(name) > 0) service->*member = options.given.*member;
  }
  if (options.no_config) service->config = picojson::value();
  return true;
}

int RunDispatcher(const DispatcherOptions& options, const Globals& globals) {
  dispatcher::Config config = options.config;
  config.log_requests = !globals.quiet;
  std::string error;
  if (!BuildGameService(options, &config.service, &error)) return Usage(error);
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
  return "Run the reference dispatcher and launcher monitor until Ctrl-C (SIGINT or SIGTERM; "
         "on Windows also Ctrl-Break or closing the console), logging one line per request on "
         "stderr (none with -q). Refusals: result 1 for a malformed request, "
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

std::vector<Option> AddressOptions(dispatcher::Config* config) {
  dispatcher::ServerAddresses& addresses = config->addresses;
  return {
      ListOption({"--listen"}, "ADDR",
                 "IPv4 or IPv6 address to listen on (repeatable; default 127.0.0.1 and ::1, the "
                 "latter where the machine has it)",
                 &addresses.hosts),
      PortOption({"--port"}, "Dispatcher port; 0 picks a free one", &addresses.dispatcher_port),
      TextOption({"--path"}, "PATH", "Dispatcher base path; the request's name follows it",
                 &addresses.dispatcher_path),
      PortOption({"--monitor-port"}, "Launcher monitor port; 0 picks a free one",
                 &addresses.monitor_port),
      TextOption({"--monitor-path"}, "PATH", "Launcher monitor report path",
                 &addresses.monitor_path),
      TextOption({"--ready-file"}, "FILE",
                 "While listening, this file holds dispatcher_port=N and monitor_port=N lines",
                 &config->ready_file),
  };
}

// A game service option: its value overrides the service file's.
Option Override(Option option, DispatcherOptions* options) {
  option.take = [take = option.take, options, name = option.names[0]](const std::string& value) {
    options->overrides.insert(name);
    return take(value);
  };
  return option;
}

std::vector<Option> ServiceOptions(DispatcherOptions* options) {
  std::vector<Option> list = {
      TextOption({"--service-file"}, "FILE",
                 "JSON object with the game service (ipv4, ipv6, *_port, key1, key2, config)",
                 &options->service_file)};
  const char* const text_help[][2] = {{"ADDR", "Game service IPv4 address"},
                                      {"ADDR", "Game service IPv6 address"},
                                      {"KEY", "Game service key1 (default: random per answer)"},
                                      {"KEY", "Game service key2 (default: random per answer)"}};
  for (size_t i = 0; i < std::size(kTextOptions); ++i) {
    list.push_back(Override(TextOption({kTextOptions[i].first}, text_help[i][0], text_help[i][1],
                                       &(options->given.*kTextOptions[i].second)),
                            options));
  }
  const char* const port_help[] = {"Game service control port", "Game service video port",
                                   "Game service audio port", "Game service input port"};
  for (size_t i = 0; i < std::size(kPortOptions); ++i) {
    list.push_back(Override(PortOption({kPortOptions[i].first}, port_help[i],
                                       &(options->given.*kPortOptions[i].second)),
                            options));
  }
  list.push_back(FlagOption({"--no-config"},
                            "Send no quality \"config\" (default: three levels of version 1)",
                            &options->no_config));
  return list;
}

std::vector<Option> FaultOptions(dispatcher::Config* config) {
  std::vector<Option> list = {{{"--issue"},
                               "TOKEN=KEY_VALUE",
                               "Accept this pair as if issued here (repeatable)",
                               "",
                               true,
                               [config](const std::string& value) {
                                 std::string token;
                                 std::string key_value;
                                 if (!SplitKeyValue(value, &token, &key_value))
                                   return "not TOKEN=KEY_VALUE";
                                 config->issued.emplace_back(token, key_value);
                                 return "";
                               }}};
  for (const FaultOption& fault : kFaultOptions) {
    list.push_back({{fault.name},
                    fault.value_name,
                    fault.help,
                    "",
                    true,
                    [config, fault](const std::string& value) {
                      std::string number;
                      dispatcher::FaultEntry entry{fault.kind, "", 0};
                      if (!SplitKeyValue(value, &entry.action, &number) ||
                          !ParseInt(number, &entry.number)) {
                        return std::string("not ") + fault.value_name;
                      }
                      config->faults.push_back(entry);
                      return std::string();
                    }});
  }
  Option count = IntOption({"--fault-count"}, "N",
                           "Faults hit only the first N requests of each action; 0 means all",
                           &config->fault_count);
  count.take = [config](const std::string& value) {
    return ParseInt(value, &config->fault_count) && config->fault_count >= 0
               ? ""
               : "not a whole number of 0 or more";
  };
  list.push_back(count);
  return list;
}

}  // namespace

Command DispatcherCommand() {
  auto options = std::make_shared<DispatcherOptions>();
  Command command;
  command.name = "dispatcher";
  command.summary = "Run the reference dispatcher and launcher monitor";
  command.description = Description();
  command.options = AddressOptions(&options->config);
  for (auto more : {ServiceOptions(options.get()), FaultOptions(&options->config)}) {
    command.options.insert(command.options.end(), more.begin(), more.end());
  }
  command.footer =
      "ACTION is request_token, request_accesstoken, request_gameservice or monitor. "
      "Port 0 prints the chosen ports on stdout.";
  command.exit_statuses = {
      {kExitOk, "stopped by Ctrl-C, SIGTERM or closing the console"},
      {kExitFailed, "could not listen, start or write the ready file; the reason is printed"},
      kStatusUsage};
  command.run = [options](const Globals& globals) { return RunDispatcher(*options, globals); };
  return command;
}

}  // namespace tools
}  // namespace vanta
