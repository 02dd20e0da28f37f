// vanta monitor-put: sends one launcher monitor report.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <vanta/WebService.h>

#include "dispatcher/Addresses.h"
#include "tools/commands.h"

namespace vanta {
namespace tools {
namespace {

struct MonitorPutOptions {
  int slotid = 0;
  int capture_down_time = 0;
  int heartbeat_down_time = 0;
  int handling_down_time = 0;
  int client_delay = 0;
  std::string remote_ip;
  int remote_port = 0;
  std::string uri;
  std::string scheme = "http://";
  std::string host = kLoopbackHost;
  int port = kMonitorPort;
  std::string path = kMonitorPath + 1;  // after the "/" that follows the port
  bool parts_given = false;             // --scheme, --host, --port or --path
};

int RunMonitorPut(const MonitorPutOptions& options, const Globals& globals) {
  if (!options.uri.empty() && options.parts_given) {
    std::fprintf(stderr,
                 "vanta monitor-put: --uri is the whole address; leave out --scheme, --host, "
                 "--port and --path, or --uri\n");
    return kExitUsage;
  }
  TracePrinter trace(globals.verbose);
  WebService service;
  ErrorCode code = service.Initialize();
  if (code.IsFailure()) return ReportFailure("monitor-put", "Initialize failed", code, nullptr, "");
  // The library's own default address unless one is given.
  std::string address = "the launcher monitor";
  if (!options.uri.empty()) {
    service.SetUriRequestLauncherMonitorPut(options.uri);
    address = options.uri;
  } else if (options.parts_given) {
    const std::string host = UrlHost(options.host);
    service.SetUriRequestLauncherMonitorPut(options.scheme, host, options.port, options.path);
    address = options.scheme + host + ":" + std::to_string(options.port) + "/" + options.path;
  }
  code = service.RequestLauncherMonitorPut(
      options.slotid, options.capture_down_time, options.heartbeat_down_time,
      options.handling_down_time, options.client_delay, options.remote_ip, options.remote_port);
  if (code.IsFailure()) {
    const ExchangeReport& last = service.GetLastExchange();
    return ReportFailure("monitor-put", "the report was not accepted", code, &last,
                         FailureHint(code, &last, address));
  }
  if (!globals.quiet) std::printf("report accepted\n");
  return kExitOk;
}

// An option of the address's parts: it marks that one was given.
Option Part(Option option, MonitorPutOptions* options) {
  option.take = [take = option.take, options](const std::string& value) {
    options->parts_given = true;
    return take(value);
  };
  return option;
}

Option CheckedText(std::vector<std::string> names, std::string value_name, std::string help,
                   std::string* target, std::string (*problem)(const std::string&)) {
  Option option = TextOption(std::move(names), std::move(value_name), std::move(help), target);
  option.take = [target, problem](const std::string& value) {
    const std::string why = problem(value);
    if (why.empty()) *target = value;
    return why;
  };
  return option;
}

std::string RemoteIpProblem(const std::string& value) {
  return value.empty() || IsIpv4Address(value) || IsIpv6Address(value)
             ? ""
             : "not an IPv4 or IPv6 address";
}

std::string SchemeProblem(const std::string& value) {
  return value == "http://" || value == "https://" ? "" : "must be exactly http:// or https://";
}

std::string HostProblem(const std::string& value) {
  if (value.empty()) return "no host";
  if (value.find_first_of("/?#@ ") != std::string::npos) return "not a host name or address";
  if (value.find(':') != std::string::npos && !IsIpv6Address(value) &&
      !(value[0] == '[' && IsIpv6Address(value.substr(1, value.size() - 2)) &&
        value.back() == ']')) {
    return "a host without a port (--port gives the port)";
  }
  return "";
}

std::vector<Option> ReportOptions(MonitorPutOptions* o) {
  return {
      IntOption({"--slotid"}, "N", "Slot the client uses", &o->slotid),
      IntOption({"--capture-down-time"}, "N", "Capture down time", &o->capture_down_time),
      IntOption({"--heartbeat-down-time"}, "N", "Heartbeat down time", &o->heartbeat_down_time),
      IntOption({"--handling-down-time"}, "N", "Handling down time", &o->handling_down_time),
      IntOption({"--client-delay"}, "N", "Client delay", &o->client_delay),
      CheckedText({"--remote-ip"}, "ADDR",
                  "IPv4 or IPv6 address the client is connected to (empty is sent as none)",
                  &o->remote_ip, &RemoteIpProblem),
      PortOption({"--remote-port"}, "Remote port the client is connected to", &o->remote_port),
  };
}

std::vector<Option> AddressOptions(MonitorPutOptions* o) {
  return {
      UrlOption({"--uri"}, UrlKind::kWhole, "Whole monitor address, used as given", &o->uri),
      Part(CheckedText({"--scheme"}, "SCHEME", "Monitor address scheme: http:// or https://",
                       &o->scheme, &SchemeProblem),
           o),
      Part(CheckedText({"--host"}, "HOST",
                       "Monitor host name or address (an IPv6 address gets its brackets)", &o->host,
                       &HostProblem),
           o),
      Part(PortOption({"--port"}, "Monitor port", &o->port), o),
      Part(TextOption({"--path"}, "PATH", "Monitor path, after the '/' that follows the port",
                      &o->path),
           o),
  };
}

}  // namespace

Command MonitorPutCommand() {
  auto options = std::make_shared<MonitorPutOptions>();
  Command command;
  command.name = "monitor-put";
  command.summary = "Send one launcher monitor report";
  command.description =
      "Send one launcher monitor report, by default to the library's own monitor address, "
      "where vanta dispatcher listens.";
  command.options = ReportOptions(options.get());
  for (Option& option : AddressOptions(options.get())) command.options.push_back(option);
  command.exit_statuses = {{kExitOk, "the monitor accepted the report"},
                           kStatusFailed,
                           kStatusUsage,
                           kStatusUnreachable,
                           kStatusRefused,
                           kStatusBadAnswer};
  command.run = [options](const Globals& globals) { return RunMonitorPut(*options, globals); };
  return command;
}

}  // namespace tools
}  // namespace vanta
