// The reference dispatcher and launcher monitor on the network: one
// listener (see Listener.h) in front of a DispatcherBook and a MonitorBook,
// with injected faults and one log line per request.
//
// Dispatcher: POST <path><action> for each of DispatcherActions().
// Monitor: GET <monitor path>?<figures> reports; GET /reports lists the
// last reports kept.
//
// The log shows every text from a client (request line, target, body) in
// its printable form (core/Printable.h), cut after kLoggedBytes, and keys
// and tokens shortened as the library's trace shortens them.
#ifndef VANTA_DISPATCHER_SERVER_H_
#define VANTA_DISPATCHER_SERVER_H_

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "dispatcher/Addresses.h"
#include "dispatcher/Book.h"
#include "dispatcher/FaultPlan.h"
#include "dispatcher/Listener.h"
#include "platform/Mutex.h"

namespace vanta {
namespace dispatcher {

// The fault plan's name for the monitor's reports.
constexpr char kMonitorAction[] = "monitor";

// The log shows at most this many bytes of a request's target, its body and
// the answer, each followed by "... (N bytes)" when cut: every request and
// answer of a negotiation whole, a flood cut short.
constexpr size_t kLoggedBytes = 1024;

struct ServerAddresses {
  // Numeric IPv4 or IPv6 addresses, IPv6 with or without brackets. Empty:
  // both loopback addresses, the IPv6 one only where the machine has it.
  std::vector<std::string> hosts;
  int dispatcher_port = kDispatcherPort;  // 0: a free one
  std::string dispatcher_path = kDispatcherPath;
  int monitor_port = kMonitorPort;  // 0: a free one
  std::string monitor_path = kMonitorPath;
};

// "host:port", an IPv6 host in brackets.
std::string HostPort(const std::string& host, int port);

class DispatcherServer {
 public:
  // The books and the plan must outlive the server. log may be null.
  DispatcherServer(DispatcherBook* book, MonitorBook* monitor, FaultPlan* faults, std::FILE* log,
                   const Limits& limits = Limits());
  // Stops the server if it still runs.
  ~DispatcherServer();
  DispatcherServer(const DispatcherServer&) = delete;
  DispatcherServer& operator=(const DispatcherServer&) = delete;

  // Listens on every host on both ports; a port 0 is chosen on the first
  // host and taken on the others. On failure returns its kind, with one
  // line in *error saying what to do. A default host the machine lacks is
  // left out with a line in the log. REQUIRES: called once, before Start.
  Bound::Failure Bind(const ServerAddresses& addresses, std::string* error);
  // After Bind: the bound ports and the hosts listened on (without
  // brackets).
  int dispatcher_port() const { return dispatcher_port_; }
  int monitor_port() const { return monitor_port_; }
  const std::vector<std::string>& hosts() const { return hosts_; }

  // Starts serving; false when the listener's threads cannot run.
  bool Start();
  // Stops serving and waits for the requests being served; cuts injected
  // delays short. Safe to call more than once.
  void Stop();

 private:
  // Listens on host for both servers; kNone or the failure, with *error.
  Bound::Failure BindHost(const std::string& host, std::string* error);
  void ServeDispatcher(const httplib::Request& req, httplib::Response& res);
  void ServeMonitor(const httplib::Request& req, httplib::Response& res);
  // Applies the next fault of action. True when the fault has answered the
  // request itself (refusal or HTTP status).
  bool ApplyFault(const std::string& action, httplib::Response& res);
  void Log(const char* server, const httplib::Request& req, const httplib::Response& res);
  void LogLine(const std::string& line);

  DispatcherBook* book_;
  MonitorBook* monitor_;
  FaultPlan* faults_;
  std::FILE* log_;
  ServerAddresses addresses_;
  RequestServer dispatcher_;
  RequestServer monitor_server_;
  Listener listener_;
  int dispatcher_port_ = -1;
  int monitor_port_ = -1;
  std::vector<std::string> hosts_;
  Mutex mu_;
  CondVar stop_cv_;
  bool stopping_ VANTA_GUARDED_BY(mu_) = false;
};

}  // namespace dispatcher
}  // namespace vanta

#endif  // VANTA_DISPATCHER_SERVER_H_
