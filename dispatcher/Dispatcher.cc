#include "dispatcher/Dispatcher.h"

#include <cstdio>
#include <fstream>

#include "dispatcher/System.h"

namespace vanta {
namespace dispatcher {

namespace {

// Why config cannot run, or "" when it can; the plan takes its faults.
std::string Unusable(const Config& config, FaultPlan* faults) {
  const std::string& path = config.addresses.dispatcher_path;
  if (path.empty() || path.front() != '/' || path.back() != '/') {
    return "--path must begin and end with /";
  }
  const std::string& monitor_path = config.addresses.monitor_path;
  if (monitor_path.empty() || monitor_path.front() != '/') {
    return "--monitor-path must begin with /";
  }
  std::string error;
  for (const FaultEntry& entry : config.faults) {
    if (!faults->Add(entry, &error)) return error;
  }
  faults->SetCount(config.fault_count);
  return "";
}

// Writes the chosen ports to path in one step, so that a reader never sees
// half a file.
bool WriteReadyFile(const std::string& path, int dispatcher_port, int monitor_port) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);  // LF on every system
    out << "dispatcher_port=" << dispatcher_port << "\nmonitor_port=" << monitor_port << "\n";
    if (!out.flush()) return false;
  }
  return ReplaceFile(temporary, path);
}

// "<what> http://127.0.0.1:8081/dispatcher/ http://[::1]:8081/dispatcher/"
void PrintAddresses(const char* what, const std::vector<std::string>& hosts, int port,
                    const std::string& path) {
  std::string line = what;
  for (const std::string& host : hosts) line += " http://" + HostPort(host, port) + path;
  std::printf("%s\n", line.c_str());
}

}  // namespace

Outcome Run(const Config& config, std::string* error) {
  std::vector<std::string> actions = DispatcherActions();
  actions.push_back(kMonitorAction);
  FaultPlan faults(actions);
  *error = Unusable(config, &faults);
  if (!error->empty()) return Outcome::kUnusable;
  DispatcherBook book(config.service);
  for (const auto& [token, key_value] : config.issued) book.Issue(token, key_value);
  MonitorBook monitor;

  RaiseDescriptorLimit();
  ArmStopRequest();  // before any thread starts
  DispatcherServer server(&book, &monitor, &faults, config.log_requests ? stderr : nullptr);
  const Bound::Failure failure = server.Bind(config.addresses, error);
  if (failure != Bound::Failure::kNone) {
    return failure == Bound::Failure::kNotAnAddress ? Outcome::kUnusable : Outcome::kFailed;
  }
  if (!server.Start()) {
    *error = "cannot start serving: " + SocketErrorText(LastSocketError());
    return Outcome::kFailed;
  }
  const ServerAddresses& addresses = config.addresses;
  PrintAddresses("dispatcher", server.hosts(), server.dispatcher_port(), addresses.dispatcher_path);
  PrintAddresses("monitor", server.hosts(), server.monitor_port(), addresses.monitor_path);
  std::fflush(stdout);
  const std::string& ready = config.ready_file;
  if (!ready.empty() && !WriteReadyFile(ready, server.dispatcher_port(), server.monitor_port())) {
    *error = "cannot write " + ready;
    return Outcome::kFailed;
  }
  const std::string stopped_by = WaitForStopRequest();
  std::fprintf(stderr, "dispatcher: stopping on %s\n", stopped_by.c_str());
  server.Stop();
  // Gone with the listeners: the ports it names are free again.
  if (!ready.empty()) std::remove(ready.c_str());
  StopRequestHandled();
  return Outcome::kStopped;
}

}  // namespace dispatcher
}  // namespace vanta
