// The reference dispatcher and launcher monitor on the loopback address:
// two HTTP listeners in front of a DispatcherBook and a MonitorBook, with
// injected faults and one log line per request. Each listener gathers
// requests whole before serving them (see GuardedServer).
//
// Dispatcher: POST <path><action> for each of DispatcherActions().
// Monitor: GET <monitor path>?<figures> reports; GET /reports lists the
// last reports kept.
#ifndef VANTA_TOOLS_DISPATCHER_SERVER_H_
#define VANTA_TOOLS_DISPATCHER_SERVER_H_

#include <httplib.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "tools/dispatcher_book.h"
#include "tools/dispatcher_listener.h"
#include "tools/fault_plan.h"

namespace vanta {
namespace tools {

// The fault plan's name for the monitor's reports.
constexpr char kMonitorAction[] = "monitor";

// The log shows at most this many bytes of a request's target, its body and
// the answer, each followed by "... (N bytes)" when cut: every request and
// answer of a negotiation whole, a flood cut short.
constexpr size_t kLoggedBytes = 1024;

struct ServerAddresses {
  int dispatcher_port = 8081;  // 0: an ephemeral port
  std::string dispatcher_path = "/dispatcher/";
  int monitor_port = 7999;  // 0: an ephemeral port
  std::string monitor_path = "/monitor/put";
};

class DispatcherServer {
 public:
  // The books and the plan must outlive the server. log may be null. Both
  // listeners work within limits.
  DispatcherServer(DispatcherBook* book, MonitorBook* monitor, FaultPlan* faults, std::FILE* log,
                   const ListenerLimits& limits = ListenerLimits());
  // Stops the listeners if they still run.
  ~DispatcherServer();
  DispatcherServer(const DispatcherServer&) = delete;
  DispatcherServer& operator=(const DispatcherServer&) = delete;

  // Binds both listeners on 127.0.0.1. False, with one line in *error, when
  // either port cannot be had. Requests queue from here on.
  bool Bind(const ServerAddresses& addresses, std::string* error);
  // The bound ports (the chosen ones for port 0); valid after Bind.
  int dispatcher_port() const { return dispatcher_port_; }
  int monitor_port() const { return monitor_port_; }

  // Starts serving on two threads.
  void Start();
  // Stops serving and waits for both threads; cuts injected delays short.
  // Safe to call more than once.
  void Stop();

 private:
  void ServeDispatcher(const httplib::Request& req, httplib::Response& res);
  void ServeMonitor(const httplib::Request& req, httplib::Response& res);
  // Applies the next fault of action. True when the fault has answered the
  // request itself (refusal or HTTP status).
  bool ApplyFault(const std::string& action, httplib::Response& res);
  void Log(const char* server, const httplib::Request& req, const httplib::Response& res);
  // Logs what a listener answered or dropped by itself.
  GuardedServer::Note NoteTo(const char* server);
  void LogLine(const std::string& line);

  DispatcherBook* book_;
  MonitorBook* monitor_;
  FaultPlan* faults_;
  std::FILE* log_;
  ServerAddresses addresses_;
  GuardedServer dispatcher_;
  GuardedServer monitor_server_;
  int dispatcher_port_ = -1;
  int monitor_port_ = -1;
  std::thread dispatcher_thread_;
  std::thread monitor_thread_;
  std::mutex mu_;
  std::condition_variable stop_cv_;
  bool stopping_ = false;
};

}  // namespace tools
}  // namespace vanta

#endif  // VANTA_TOOLS_DISPATCHER_SERVER_H_
