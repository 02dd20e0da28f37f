#include "tools/dispatcher_server.h"

#include <algorithm>
#include <chrono>

namespace vanta {
namespace tools {
namespace {

constexpr char kHost[] = "127.0.0.1";
constexpr char kJson[] = "application/json";

// Lets a port be bound again right after a previous dispatcher left it,
// but never while another one listens on it: the library's default also
// asks to share the port (SO_REUSEPORT), which would split the requests
// between two dispatchers.
void ReuseAddressOnly(socket_t sock) {
  int yes = 1;
  setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
}

// text for the log: at most kLoggedBytes of it (not splitting a UTF-8
// character) and its size when cut, with line breaks and other control
// bytes turned into blanks so that each request stays on one log line.
std::string ForLog(const std::string& text) {
  std::string shown = text;
  if (text.size() > kLoggedBytes) {
    size_t cut = kLoggedBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    shown = text.substr(0, cut) + "... (" + std::to_string(text.size()) + " bytes)";
  }
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return shown;
}

}  // namespace

DispatcherServer::DispatcherServer(DispatcherBook* book, MonitorBook* monitor, FaultPlan* faults,
                                   std::FILE* log, const ListenerLimits& limits)
    : book_(book),
      monitor_(monitor),
      faults_(faults),
      log_(log),
      dispatcher_(limits, NoteTo("dispatcher")),
      monitor_server_(limits, NoteTo("monitor")) {
  dispatcher_.Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
    ServeDispatcher(req, res);
  });
  monitor_server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
    ServeMonitor(req, res);
  });
  dispatcher_.set_socket_options(ReuseAddressOnly);
  monitor_server_.set_socket_options(ReuseAddressOnly);
  // Reports come over one kept-alive connection: answer each at once.
  dispatcher_.set_tcp_nodelay(true);
  monitor_server_.set_tcp_nodelay(true);
  dispatcher_.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
    Log("dispatcher", req, res);
  });
  monitor_server_.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
    Log("monitor", req, res);
  });
}

DispatcherServer::~DispatcherServer() { Stop(); }

bool DispatcherServer::Bind(const ServerAddresses& addresses, std::string* error) {
  addresses_ = addresses;
  dispatcher_port_ = dispatcher_.Bind(kHost, addresses.dispatcher_port);
  if (dispatcher_port_ < 0) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(addresses.dispatcher_port) +
             " for the dispatcher (is the port taken?)";
    return false;
  }
  monitor_port_ = monitor_server_.Bind(kHost, addresses.monitor_port);
  if (monitor_port_ < 0) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(addresses.monitor_port) +
             " for the launcher monitor (is the port taken?)";
    return false;
  }
  return true;
}

void DispatcherServer::Start() {
  dispatcher_thread_ = std::thread([this] { dispatcher_.Serve(); });
  monitor_thread_ = std::thread([this] { monitor_server_.Serve(); });
}

void DispatcherServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  stop_cv_.notify_all();
  dispatcher_.Shutdown();
  monitor_server_.Shutdown();
  if (dispatcher_thread_.joinable()) dispatcher_thread_.join();
  if (monitor_thread_.joinable()) monitor_thread_.join();
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
    std::unique_lock<std::mutex> lock(mu_);
    stop_cv_.wait_for(lock, std::chrono::milliseconds(fault.delay_ms),
                      [this] { return stopping_; });
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
  std::string line = std::string(server) + ": " + req.method + " " + ForLog(req.target);
  if (!req.body.empty()) line += " " + ForLog(req.body);
  line += " -> " + std::to_string(res.status);
  if (!res.body.empty()) line += " " + ForLog(res.body);
  LogLine(line);
}

GuardedServer::Note DispatcherServer::NoteTo(const char* server) {
  return [this, server](const std::string& request, const std::string& outcome) {
    LogLine(std::string(server) + ": " + ForLog(request) + " -> " + ForLog(outcome));
  };
}

void DispatcherServer::LogLine(const std::string& line) {
  if (log_ == nullptr) return;
  const std::string text = line + '\n';
  std::lock_guard<std::mutex> lock(mu_);
  std::fputs(text.c_str(), log_);
  std::fflush(log_);
}

}  // namespace tools
}  // namespace vanta
