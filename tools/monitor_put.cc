// vanta monitor-put: sends one launcher monitor report.
#include <cstdio>
#include <memory>
#include <string>

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
  bool parts_given = false;
  Verbosity verbosity;
};

int RunMonitorPut(const MonitorPutOptions& options) {
  TracePrinter trace(options.verbosity.verbose);
  WebService service;
  ErrorCode code = service.Initialize();
  if (code.IsFailure()) return ReportFailure("monitor-put", "Initialize failed", code, nullptr);
  // The library's own default address unless one is given.
  std::string address = "the launcher monitor";
  if (!options.uri.empty()) {
    service.SetUriRequestLauncherMonitorPut(options.uri);
    address = options.uri;
  } else if (options.parts_given) {
    code = service.SetUriRequestLauncherMonitorPut(options.scheme, options.host, options.port,
                                                   options.path);
    if (code.IsFailure()) {
      std::fprintf(stderr, "vanta monitor-put: --scheme must be http:// or https://, not '%s'\n",
                   options.scheme.c_str());
      return kExitUsage;
    }
    address = options.scheme + options.host + ":" + std::to_string(options.port);
  }
  code = service.RequestLauncherMonitorPut(
      options.slotid, options.capture_down_time, options.heartbeat_down_time,
      options.handling_down_time, options.client_delay, options.remote_ip, options.remote_port);
  if (code.IsFailure()) {
    return ReportFailure("monitor-put", "the report was not accepted", code,
                         &service.GetLastExchange(), ConnectionHint(code, address));
  }
  if (!options.verbosity.quiet) std::printf("report accepted\n");
  return kExitOk;
}

}  // namespace

void AddMonitorPutCommand(CLI::App& app, CommandRun* run) {
  auto options = std::make_shared<MonitorPutOptions>();
  CLI::App* sub = app.add_subcommand(
      "monitor-put",
      "Send one launcher monitor report, by default to the library's own monitor address, "
      "where vanta dispatcher listens.");
  sub->add_option("--slotid", options->slotid, "Slot the client uses")->capture_default_str();
  sub->add_option("--capture-down-time", options->capture_down_time, "Capture down time")
      ->capture_default_str();
  sub->add_option("--heartbeat-down-time", options->heartbeat_down_time, "Heartbeat down time")
      ->capture_default_str();
  sub->add_option("--handling-down-time", options->handling_down_time, "Handling down time")
      ->capture_default_str();
  sub->add_option("--client-delay", options->client_delay, "Client delay")->capture_default_str();
  sub->add_option("--remote-ip", options->remote_ip,
                  "Remote address the client is connected to (empty is sent as none)");
  sub->add_option("--remote-port", options->remote_port, "Remote port the client is connected to")
      ->capture_default_str();
  CLI::Option* uri = sub->add_option("--uri", options->uri, "Whole monitor address, used as given");
  CLI::Option* parts[] = {
      sub->add_option("--scheme", options->scheme,
                      "Monitor address scheme: exactly http:// or https://")
          ->capture_default_str(),
      sub->add_option("--host", options->host, "Monitor host")->capture_default_str(),
      sub->add_option("--port", options->port, "Monitor port")->capture_default_str(),
      sub->add_option("--path", options->path,
                      "Monitor path, after the \"/\" that follows the port")
          ->capture_default_str(),
  };
  for (CLI::Option* part : parts) uri->excludes(part);
  AddVerbosityFlags(sub, &options->verbosity);
  sub->footer(kExitStatusHelp);
  sub->callback([options, run, parts] {
    for (CLI::Option* part : parts) options->parts_given |= part->count() > 0;
    *run = [options] { return RunMonitorPut(*options); };
  });
}

}  // namespace tools
}  // namespace vanta
