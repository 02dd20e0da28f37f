// The local peer that every network test talks to: an HTTP (or HTTPS, with
// a self-signed certificate for 127.0.0.1, valid from 2000 to 2100) server
// on 127.0.0.1 and an ephemeral port, answering each path as the test
// scripts it and recording every request it receives.
#ifndef VANTA_TESTS_SUPPORT_LOCAL_PEER_H_
#define VANTA_TESTS_SUPPORT_LOCAL_PEER_H_

#include <httplib.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vanta {
namespace testing {

// Polls done every millisecond until it holds, for at most 10 s, so that a
// broken test cannot hang; done's last answer.
template <typename Predicate>
bool Eventually(Predicate done) {
  for (int i = 0; i < 10000 && !done(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

// A request as it arrived (remote_port tells the client's connection apart).
using RecordedRequest = httplib::Request;

struct Answer {
  std::string body;
  int status = 200;
  std::string location;  // sent as Location when not empty
};

inline Answer Reply(const std::string& body, int status = 200, const std::string& location = "") {
  return Answer{body, status, location};
}

class LocalPeer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  // Starts listening at once. Paths without an answer get 404.
  explicit LocalPeer(bool https = false) : scheme_(https ? "https" : "http") {
    if (https) {
      server_ = std::make_unique<httplib::SSLServer>(VANTA_PEER_PEM_DIR "/peer-cert.pem",
                                                     VANTA_PEER_PEM_DIR "/peer-key.pem");
      std::ifstream in(VANTA_PEER_PEM_DIR "/peer-cert.pem");
      certificate_pem_.assign(std::istreambuf_iterator<char>(in), {});
    } else {
      server_ = std::make_unique<httplib::Server>();
    }
    // Answers leave at once, not after the client's delayed acknowledgement.
    server_->set_tcp_nodelay(true);
    auto serve = [this](const httplib::Request& req, httplib::Response& res) { Serve(req, res); };
    server_->Get(".*", serve);
    server_->Post(".*", serve);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("local peer cannot bind");
    // Connections queue in the backlog from here on. stop() has no effect
    // until the listening loop runs, so wait (boundedly) for it to start.
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    Eventually([this] { return server_->is_running(); });
  }
  ~LocalPeer() {
    server_->stop();
    thread_.join();
  }

  int port() const { return port_; }
  // The PEM certificate an HTTPS peer presents ("" for HTTP).
  const std::string& certificate_pem() const { return certificate_pem_; }
  // "http://127.0.0.1:<port>" (or https) followed by path.
  std::string Url(const std::string& path) const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path;
  }

  // Requests to path get this answer, or are answered by handler (after
  // being recorded).
  void SetAnswer(const std::string& path, const Answer& answer) {
    std::lock_guard<std::mutex> lock(mu_);
    routes_[path] = Route{answer, nullptr};
  }
  void SetHandler(const std::string& path, Handler handler) {
    std::lock_guard<std::mutex> lock(mu_);
    routes_[path] = Route{{}, std::move(handler)};
  }

  std::vector<RecordedRequest> Requests() const {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }
  std::vector<RecordedRequest> RequestsTo(const std::string& path) const {
    std::vector<RecordedRequest> out;
    for (const RecordedRequest& r : Requests()) {
      if (r.path == path) out.push_back(r);
    }
    return out;
  }

 private:
  struct Route {
    Answer answer;
    Handler handler;
  };

  void Serve(const httplib::Request& req, httplib::Response& res) {
    Route route{{"", 404, ""}, nullptr};
    {
      std::lock_guard<std::mutex> lock(mu_);
      requests_.push_back(req);
      auto it = routes_.find(req.path);
      if (it != routes_.end()) route = it->second;
    }
    if (route.handler) return route.handler(req, res);
    res.status = route.answer.status;
    if (!route.answer.location.empty()) res.set_header("Location", route.answer.location);
    res.set_content(route.answer.body, "application/json");
  }

  std::string scheme_;
  std::string certificate_pem_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = -1;
  std::thread thread_;
  mutable std::mutex mu_;
  std::map<std::string, Route> routes_;
  std::vector<RecordedRequest> requests_;
};

// A loopback port that was free a moment ago and has nothing listening on
// it: connections to it are refused.
inline int ClosedLoopbackPort() { return LocalPeer().port(); }

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_SUPPORT_LOCAL_PEER_H_
