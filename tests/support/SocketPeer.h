// The local peer's raw-socket mode: a TCP listener on 127.0.0.1 and an
// ephemeral port that speaks no HTTP of its own. It reads what the client
// sends (recorded as LocalPeer records it) and then treats the connection
// as its policy says, so that tests can reproduce faults that a
// well-behaved server never shows: a close right after accepting,
// an aborted TLS handshake, bytes trickled one at a time, or a reset in the
// middle of an answer.
#ifndef VANTA_TESTS_SUPPORT_SOCKET_PEER_H_
#define VANTA_TESTS_SUPPORT_SOCKET_PEER_H_

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/LocalPeer.h"

namespace vanta {
namespace testing {

struct SocketPolicy {
  enum class Action {
    kCloseAtOnce,        // close as soon as the connection is accepted; nothing is read
    kAbortTlsHandshake,  // read the client's first flight, answer a fatal TLS alert, close
    kSend,               // read the request, then send `bytes` as they are
  };
  Action action = Action::kSend;
  std::string bytes;                           // kSend: everything sent, status line included
  size_t reset_after = std::string::npos;      // kSend: reset once this many bytes are out
  std::chrono::milliseconds byte_interval{0};  // kSend: pause before each byte; 0: all at once
};

// An HTTP/1.1 answer with the given status and body and a Content-Length
// that matches the body.
std::string RawHttpAnswer(int status, const std::string& body);

class SocketPeer {
 public:
  // Starts listening at once; every connection gets the same policy.
  explicit SocketPeer(const SocketPolicy& policy);
  // Stops waiting, pausing and sending at once, then closes everything.
  ~SocketPeer();
  SocketPeer(const SocketPeer&) = delete;
  SocketPeer& operator=(const SocketPeer&) = delete;

  int port() const { return port_; }
  // scheme + "://127.0.0.1:<port>" + path.
  std::string Url(const std::string& path, const std::string& scheme = "http") const;

  // Connections accepted so far.
  size_t Connections() const;
  // The requests read so far (none for the policies that read nothing).
  std::vector<RecordedRequest> Requests() const;

 private:
  void AcceptLoop();
  void Serve(int fd, int client_port);
  bool ReadRequest(int fd, int client_port, RecordedRequest& request);
  void SendAnswer(int fd);
  // Waits until fd is ready for events; false when the peer stops first or
  // timeout (-1: none) passes.
  bool WaitFor(int fd, short events, int timeout_ms) const;
  // Sleeps for ms; false when the peer stops first.
  bool Pause(int ms) const;
  // Waits for the client to close its side (or the peer to stop).
  void DrainUntilClosed(int fd) const;

  const SocketPolicy policy_;
  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};  // written once when the peer stops; every wait polls it
  int port_ = -1;
  std::thread accept_thread_;
  std::vector<std::thread> connection_threads_;  // touched by the accept thread only
  mutable std::mutex mu_;
  size_t connections_ = 0;
  std::vector<RecordedRequest> requests_;
};

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_SUPPORT_SOCKET_PEER_H_
