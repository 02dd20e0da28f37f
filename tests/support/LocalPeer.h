// The local peer that every network test talks to: an HTTP (or HTTPS, with
// a fresh self-signed certificate) server on 127.0.0.1 and an ephemeral
// port, answering each path as the test scripts it and recording every
// request it receives.
#ifndef VANTA_TESTS_SUPPORT_LOCAL_PEER_H_
#define VANTA_TESTS_SUPPORT_LOCAL_PEER_H_

#include <httplib.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vanta {
namespace testing {

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
  explicit LocalPeer(bool https = false);
  ~LocalPeer();

  int port() const { return port_; }
  // The PEM certificate an HTTPS peer presents ("" for HTTP).
  const std::string& certificate_pem() const { return certificate_pem_; }
  // "http://127.0.0.1:<port>" (or https) followed by path.
  std::string Url(const std::string& path) const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path;
  }

  // Requests to path get these answers in turn, the last one repeating, or
  // are answered by handler (after being recorded).
  void SetAnswers(const std::string& path, const std::vector<Answer>& answers);
  void SetAnswer(const std::string& path, const Answer& answer) { SetAnswers(path, {answer}); }
  void SetHandler(const std::string& path, Handler handler);

  std::vector<RecordedRequest> Requests() const;
  std::vector<RecordedRequest> RequestsTo(const std::string& path) const;

 private:
  struct Route {
    std::vector<Answer> answers;
    size_t next = 0;
    Handler handler;
  };
  void Serve(const httplib::Request& req, httplib::Response& res);

  std::string scheme_;
  std::string certificate_pem_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = -1;
  std::thread thread_;
  mutable std::mutex mu_;
  std::map<std::string, Route> routes_;
  std::vector<RecordedRequest> requests_;
};

// Polls done every millisecond until it holds, for at most 10 s, so that a
// broken test cannot hang; done's last answer.
template <typename Predicate>
bool Eventually(Predicate done) {
  for (int i = 0; i < 10000 && !done(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

// A loopback port that was free a moment ago and has nothing listening on
// it: connections to it are refused.
inline int ClosedLoopbackPort() { return LocalPeer().port(); }

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_SUPPORT_LOCAL_PEER_H_
