#include "tests/support/LocalPeer.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace vanta {
namespace testing {

LocalPeer::LocalPeer(bool https) : scheme_(https ? "https" : "http") {
  if (https) {
    // A self-signed certificate for 127.0.0.1, valid from 2000 to 2100.
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

LocalPeer::~LocalPeer() {
  server_->stop();
  thread_.join();
}

void LocalPeer::SetAnswers(const std::string& path, const std::vector<Answer>& answers) {
  std::lock_guard<std::mutex> lock(mu_);
  routes_[path] = Route{answers, 0, nullptr};
}

void LocalPeer::SetHandler(const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(mu_);
  routes_[path] = Route{{}, 0, std::move(handler)};
}

std::vector<RecordedRequest> LocalPeer::Requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

std::vector<RecordedRequest> LocalPeer::RequestsTo(const std::string& path) const {
  std::vector<RecordedRequest> out;
  for (const RecordedRequest& r : Requests()) {
    if (r.path == path) out.push_back(r);
  }
  return out;
}

void LocalPeer::Serve(const httplib::Request& req, httplib::Response& res) {
  Handler handler;
  Answer answer{"", 404, ""};
  {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(req);
    auto it = routes_.find(req.path);
    if (it != routes_.end() && it->second.handler) {
      handler = it->second.handler;
    } else if (it != routes_.end() && !it->second.answers.empty()) {
      Route& route = it->second;
      answer = route.answers[route.next];
      if (route.next + 1 < route.answers.size()) ++route.next;
    }
  }
  if (handler) return handler(req, res);
  res.status = answer.status;
  if (!answer.location.empty()) res.set_header("Location", answer.location);
  res.set_content(answer.body, "application/json");
}

}  // namespace testing
}  // namespace vanta
