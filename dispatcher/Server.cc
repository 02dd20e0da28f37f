#include "dispatcher/Server.h"

#include <algorithm>
#include <chrono>

#include "core/Trace.h"

namespace vanta {
namespace dispatcher {

namespace {

constexpr char kJson[] = "application/json";

// text for the log: printable, one line, cut after kLoggedBytes.
std::string ForLog(const std::string& text) { return trace::Printable(text, kLoggedBytes); }

std::string WithoutBrackets(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    return host.substr(1, host.size() - 2);
  }
  return host;
}

}  // namespace

std::string HostPort(const std::string& host, int port) {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

DispatcherServer::DispatcherServer(DispatcherBook* book, MonitorBook* monitor, FaultPlan* faults,
                                   std::FILE* log, const Limits& limits)
    : book_(book),
      monitor_(monitor),
      faults_(faults),
      log_(log),
      listener_(limits,
                [this](const char* site, const std::string& request, const std::string& outcome) {
                  LogLine(std::string(site) + ": " + ForLog(request) + " -> " + ForLog(outcome));
                }) {
  dispatcher_.Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
    ServeDispatcher(req, res);
  });
  monitor_server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
    ServeMonitor(req, res);
  });
  for (RequestServer* server : {&dispatcher_, &monitor_server_}) {
    // What the answers' Keep-Alive header tells the client.
    server->set_keep_alive_max_count(limits.max_requests_per_connection);
    server->set_keep_alive_timeout(
        std::chrono::ceil<std::chrono::seconds>(limits.idle_timeout).count());
    // A second guard: the listener refuses larger bodies before this.
    server->set_payload_max_length(limits.max_body_bytes);
  }
  dispatcher_.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
    Log("dispatcher", req, res);
  });
  monitor_server_.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
    Log("monitor", req, res);
  });
}

DispatcherServer::~DispatcherServer() { Stop(); }

Bound::Failure DispatcherServer::Bind(const ServerAddresses& addresses, std::string* error) {
  addresses_ = addresses;
  dispatcher_port_ = addresses.dispatcher_port;
  monitor_port_ = addresses.monitor_port;
  const bool defaults = addresses.hosts.empty();
  const std::vector<std::string> hosts =
      defaults ? std::vector<std::string>{kLoopbackHost, kLoopbackHostIpv6} : addresses.hosts;
  for (const std::string& given : hosts) {
    const std::string host = WithoutBrackets(given);
    std::string why;
    const Bound::Failure failure = BindHost(host, &why);
    if (failure == Bound::Failure::kUnavailable && defaults && !hosts_.empty()) {
      LogLine("dispatcher: " + why + "; listening on " + hosts_.front() + " only");
      continue;
    }
    if (failure != Bound::Failure::kNone) {
      *error = why;
      return failure;
    }
    hosts_.push_back(host);
  }
  return Bound::Failure::kNone;
}

Bound::Failure DispatcherServer::BindHost(const std::string& host, std::string* error) {
  struct Each {
    const char* name;
    Site site;
    int* port;
  };
  const Each servers[] = {{"dispatcher", {"dispatcher", &dispatcher_}, &dispatcher_port_},
                          {"launcher monitor", {"monitor", &monitor_server_}, &monitor_port_}};
  for (const Each& server : servers) {
    const Bound bound = listener_.Listen(host, *server.port, server.site);
    const std::string where = "cannot listen on " + HostPort(host, *server.port) + " for the " +
                              server.name + ": " + bound.reason;
    switch (bound.failure) {
      case Bound::Failure::kNone:
        *server.port = bound.port;
        continue;
      case Bound::Failure::kNotAnAddress:
        *error = "'" + host + "' is not an IPv4 or IPv6 address";
        break;
      case Bound::Failure::kInUse:
        *error = where + "; is another dispatcher running? --port 0 and --monitor-port 0 pick " +
                 "free ports";
        break;
      default:
        *error = where;
        break;
    }
    return bound.failure;
  }
  return Bound::Failure::kNone;
}

bool DispatcherServer::Start() { return listener_.Start(); }

void DispatcherServer::Stop() {
  {
    MutexLock lock(&mu_);
    stopping_ = true;
  }
  stop_cv_.SignalAll();
  listener_.Stop();
}

void DispatcherServer::ServeDispatcher(const httplib::Request& req, httplib::Response& res) {
  const std::string& base = addresses_.dispatcher_path;
  const std::vector<std::string>& actions = DispatcherActions();
  std::string action;
  if (req.path.compare(0, base.size(), base) == 0) action = req.path.substr(base.size());
  if (std::find(actions.begin(), actions.end(), action) == actions.end()) {
    res.status = 404;
    return;
  }
  if (ApplyFault(action, res)) return;
  res.set_content(book_->Answer(action, req.body), kJson);
}

void DispatcherServer::ServeMonitor(const httplib::Request& req, httplib::Response& res) {
  if (req.path == "/reports") {
    res.set_content(monitor_->ReportsJson(), kJson);
    return;
  }
  if (req.path != addresses_.monitor_path) {
    res.status = 404;
    return;
  }
  if (ApplyFault(kMonitorAction, res)) return;
  res.set_content(monitor_->Put(req.params), kJson);
}

bool DispatcherServer::ApplyFault(const std::string& action, httplib::Response& res) {
  Fault fault = faults_->Take(action);
  if (fault.delay_ms > 0) {
    // Held for the delay, or less when the server stops.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(fault.delay_ms);
    MutexLock lock(&mu_);
    while (!stopping_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      stop_cv_.WaitFor(&mu_, left);
    }
  }
  if (fault.http_status != 0) {
    res.status = fault.http_status;
    res.set_content("injected HTTP status", "text/plain");
    return true;
  }
  if (fault.refuse) {
    res.set_content(Refusal(fault.refuse_result, "injected refusal"), kJson);
    return true;
  }
  return false;
}

void DispatcherServer::Log(const char* server, const httplib::Request& req,
                           const httplib::Response& res) {
  if (log_ == nullptr) return;
  std::string line = std::string(server) + ": " + ForLog(req.method) + " " + ForLog(req.target);
  if (!req.body.empty()) line += " " + ForLog(BodyWithSecretsShortened(req.body));
  line += " -> " + std::to_string(res.status);
  if (!res.body.empty()) line += " " + ForLog(BodyWithSecretsShortened(res.body));
  LogLine(line);
}

void DispatcherServer::LogLine(const std::string& line) {
  if (log_ == nullptr) return;
  const std::string text = line + '\n';
  MutexLock lock(&mu_);
  std::fputs(text.c_str(), log_);
  std::fflush(log_);
}

}  // namespace dispatcher
}  // namespace vanta
