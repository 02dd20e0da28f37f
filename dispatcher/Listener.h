// The listener under the reference dispatcher and launcher monitor:
// listening sockets on any number of addresses, each serving one site (a
// RequestServer with its routes), and every connection they accept, all
// read and written by one I/O thread, so that slow, silent or greedy
// clients never hold a serving thread.
//
// The I/O thread gathers each request whole (framed as Framing.h says,
// refusals included) and only then hands it to a serving thread; it writes
// the answer back. It also answers by itself, and then closes:
//   408  a request not whole within Limits::request_deadline;
//   503  a request that would take the bytes of all unfinished requests
//        together past Limits::unfinished_bytes.
// Past the connection cap (Limits::max_connections) the connection that
// has waited longest for its request is dropped.
#ifndef VANTA_DISPATCHER_LISTENER_H_
#define VANTA_DISPATCHER_LISTENER_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dispatcher/Framing.h"
#include "dispatcher/HttpAdapter.h"
#include "dispatcher/System.h"
#include "platform/Mutex.h"

namespace vanta {
namespace dispatcher {

// What serves the requests of one listening socket; name is for notes.
struct Site {
  const char* name;
  RequestServer* server;
};

// The outcome of Listener::Listen.
struct Bound {
  enum class Failure { kNone, kNotAnAddress, kInUse, kUnavailable, kOther };
  int port = -1;  // the bound port, the chosen one for port 0
  Failure failure = Failure::kNone;
  std::string reason;  // the system's words for the failure
};

class Listener {
 public:
  // note hears of each request that the I/O thread answers itself and of
  // each connection it drops: the site, the request line as far as it came
  // (without the HTTP version) and what became of it ("413 why"). It is
  // called on the I/O thread.
  using Note =
      std::function<void(const char* site, const std::string& request, const std::string& outcome)>;

  Listener(const Limits& limits, Note note);
  // Stops first.
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Listens on address (a numeric IPv4 or IPv6 address, without brackets)
  // and port (0: a free one) for site. REQUIRES: before Start.
  Bound Listen(const std::string& address, int port, const Site& site);
  // Starts the I/O and serving threads; false when they cannot run.
  bool Start();
  // Stops the threads, waiting for the requests being served, and closes
  // every socket, the listening ones included. REQUIRES: not called
  // concurrently with itself or Start.
  void Stop();

  // The connection cap in force.
  size_t max_connections() const { return max_connections_; }

 private:
  struct Connection;
  struct Listening {
    Socket socket;
    Site site;
  };
  // What a polled socket is, beside the wake socket.
  struct Watched {
    const Listening* listening = nullptr;
    Connection* conn = nullptr;
  };

  void RunIo();
  // The I/O thread's steps; each may close connections.
  bool TakeAnswered();  // false once stopping
  int GatherPolled(std::vector<PollEntry>* entries, std::vector<Watched>* watched);
  void HandleEvents(const std::vector<PollEntry>& entries, const std::vector<Watched>& watched);
  void Accept(const Listening& listening);
  void Receive(Connection& conn);
  void Send(Connection& conn);
  void TakeRequests(Connection& conn);  // dispatches or refuses the next request
  bool Charge(Connection& conn);        // false: over the budget, refused
  void Dispatch(Connection& conn, size_t size);
  void Refuse(Connection& conn, int status, const std::string& reason);
  void CheckDeadline(Connection& conn, std::chrono::steady_clock::time_point now);
  bool DropLongestWaiting(const std::string& why);
  void Close(Connection& conn);
  void ServeRequest(Connection* conn);  // on a serving thread
  void Wake();

  const Limits limits_;
  const Note note_;
  const size_t max_connections_;
  std::vector<Listening> listening_;
  // The I/O thread's only, once started.
  std::list<Connection> connections_;                   // closed ones until the next round
  size_t open_ = 0;                                     // connections not closed
  size_t unfinished_bytes_ = 0;                         // charged to all connections together
  bool return_memory_ = false;                          // once they are 0 again
  std::chrono::steady_clock::time_point accept_again_;  // after running out of descriptors
  Socket wake_ = kNoSocket;                             // a datagram socket connected to itself
  std::unique_ptr<httplib::ThreadPool> serving_;
  std::thread io_;

  Mutex mu_;
  bool stopping_ VANTA_GUARDED_BY(mu_) = false;
  std::vector<Connection*> answered_ VANTA_GUARDED_BY(mu_);  // connections back from serving
};

}  // namespace dispatcher
}  // namespace vanta

#endif  // VANTA_DISPATCHER_LISTENER_H_
