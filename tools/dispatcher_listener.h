// The HTTP listener under the reference dispatcher and launcher monitor: an
// httplib server whose sockets are all read and written by one I/O thread,
// so that slow, silent or greedy clients never hold a serving thread.
//
// The I/O thread gathers each request whole (headers, then a body of the
// size its Content-Length gives) and only then hands it to a serving
// thread, which runs the handlers on it in memory; the I/O thread writes the
// answer back. What it will not take whole it answers itself, then closes
// the connection:
//   400  a malformed or repeated Content-Length, or a header line without CR LF;
//   408  the request was not whole within ListenerLimits::request_deadline;
//   411  a Transfer-Encoding (a body must come with a Content-Length);
//   413  a Content-Length over ListenerLimits::max_body_bytes;
//   415  a Content-Encoding;
//   431  a header section over ListenerLimits::max_header_bytes.
#ifndef VANTA_TOOLS_DISPATCHER_LISTENER_H_
#define VANTA_TOOLS_DISPATCHER_LISTENER_H_

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vanta {
namespace tools {

struct ListenerLimits {
  // A request must be whole this long after its first byte arrived, and an
  // answer taken by the client this long after it was ready.
  std::chrono::milliseconds request_deadline{10000};
  // A kept-alive connection that sends nothing for this long is closed.
  std::chrono::milliseconds idle_timeout{5000};
  size_t max_header_bytes = 16 * 1024;  // request line and headers
  size_t max_body_bytes = 64 * 1024;
  // Past this many open connections the one waiting longest for its
  // request is dropped.
  size_t max_connections = 4096;
  size_t serving_threads = 8;
  size_t max_requests_per_connection = 1000;
  int listen_backlog = 1024;
};

// How much of a connection's input its next request takes.
struct RequestFrame {
  enum class Kind { kIncomplete, kWhole, kRefused };
  Kind kind = Kind::kIncomplete;
  // kWhole: bytes of the request, headers and body; kIncomplete: what they
  // will be, once the headers are whole (0 before).
  size_t size = 0;
  bool wants_continue = false;  // kIncomplete: headers whole, body awaited
                                // after "Expect: 100-continue"
  int status = 0;               // kRefused: the HTTP status to answer with
  std::string reason;           // kRefused: one line saying why
};

// Frames the request at the start of input (bytes received so far).
RequestFrame FrameRequest(const std::string& input, const ListenerLimits& limits);

class GuardedServer : public httplib::Server {
 public:
  // note hears of each request that the I/O thread answers itself and of
  // each connection it drops: the request line as far as it came (without
  // the HTTP version) and what became of it ("413 why"). It is called on
  // the I/O thread.
  using Note = std::function<void(const std::string& request, const std::string& outcome)>;

  GuardedServer(const ListenerLimits& limits, Note note);
  ~GuardedServer() override;
  GuardedServer(const GuardedServer&) = delete;
  GuardedServer& operator=(const GuardedServer&) = delete;

  // Binds to host:port (port 0: a free one) and listens with the backlog of
  // the limits. The bound port, or -1.
  int Bind(const std::string& host, int port);
  // Serves the bound port until Shutdown; closes every connection before it
  // returns. False when it did not serve (Shutdown came first).
  bool Serve();
  // Makes Serve return and waits for it. Callable from any thread, before,
  // during or after Serve, more than once.
  void Shutdown();

 private:
  struct Connection;

  // Called by httplib with each accepted socket: hands it to the I/O thread.
  bool process_and_close_socket(socket_t sock) override;

  void RunIo();
  // The I/O thread's steps on one connection; each may close it.
  void Receive(Connection& conn);
  void Send(Connection& conn);
  void TakeRequests(Connection& conn);  // dispatches or refuses the next request
  void Dispatch(Connection& conn, size_t size);
  void Refuse(Connection& conn, int status, const std::string& reason);
  void CheckDeadline(Connection& conn, std::chrono::steady_clock::time_point now);
  void DropLongestWaiting();
  void Close(Connection& conn);
  void ServeRequest(Connection* conn);  // on a serving thread
  void Wake();

  const ListenerLimits limits_;
  const Note note_;
  std::list<Connection> connections_;  // the I/O thread's only
  std::unique_ptr<httplib::ThreadPool> serving_;
  int wake_pipe_[2] = {-1, -1};

  std::mutex mu_;
  std::condition_variable served_cv_;
  bool serving_now_ = false;
  bool shutdown_ = false;
  std::vector<socket_t> accepted_;     // new sockets for the I/O thread
  std::vector<Connection*> answered_;  // connections back from serving
};

}  // namespace tools
}  // namespace vanta

#endif  // VANTA_TOOLS_DISPATCHER_LISTENER_H_
