// The local peer server that every network test talks to: an HTTP (or
// HTTPS, with a fresh self-signed certificate) server on 127.0.0.1 and an
// ephemeral port, answering each path as the test scripts it and recording
// every request it receives.
#ifndef VANTA_TESTS_SUPPORT_LOCAL_PEER_H_
#define VANTA_TESTS_SUPPORT_LOCAL_PEER_H_

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vanta {
namespace testing {

struct RecordedRequest {
  std::string method;
  std::string path;    // decoded path, without the query
  std::string target;  // the request target exactly as it arrived
  httplib::Headers headers;
  std::string body;
  int client_port = -1;
};

struct Answer {
  int status = 200;
  std::string body;
  std::string location;  // sent as Location when not empty
  int delay_ms = 0;      // wait before answering (cut short when the peer stops)
};

// An answer with this body and status, everything else as default.
inline Answer Reply(const std::string& body, int status = 200) {
  Answer answer;
  answer.status = status;
  answer.body = body;
  return answer;
}

class LocalPeer {
 public:
  enum class Scheme { kHttp, kHttps };
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  // Starts listening at once. Paths without an answer get 404.
  explicit LocalPeer(Scheme scheme = Scheme::kHttp);
  ~LocalPeer();
  LocalPeer(const LocalPeer&) = delete;
  LocalPeer& operator=(const LocalPeer&) = delete;

  int port() const { return port_; }
  // The PEM certificate an HTTPS peer presents ("" for HTTP).
  const std::string& certificate_pem() const { return certificate_pem_; }
  // "http://127.0.0.1:<port>" (or https) followed by path.
  std::string Url(const std::string& path) const;

  // Every request to path gets this answer.
  void SetAnswer(const std::string& path, const Answer& answer);
  // Requests to path get these answers in turn; the last one repeats.
  void SetAnswers(const std::string& path, const std::vector<Answer>& answers);
  // Requests to path are answered by handler (after being recorded).
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
  void SleepUnlessStopping(int delay_ms);

  std::string scheme_;
  std::string certificate_pem_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = -1;
  std::thread thread_;
  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  bool stopping_ = false;
  std::map<std::string, Route> routes_;
  std::vector<RecordedRequest> requests_;
};

// A loopback port that was free a moment ago and has nothing listening on
// it: connections to it are refused.
int ClosedLoopbackPort();

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_SUPPORT_LOCAL_PEER_H_
