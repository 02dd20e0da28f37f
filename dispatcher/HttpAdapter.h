// httplib's request handling for requests already held whole in memory.
//
// httplib reads each request from its socket on the thread that serves it,
// so one slow client holds one thread. The listener instead gathers every
// request whole on one I/O thread and only then hands it to a serving
// thread. httplib has no public call that serves a request held in memory;
// its protected Server::process_request, which reads from any Stream, is
// that call. This file is the only place that uses it; everything else
// uses httplib's public interface (routes, logger, keep-alive settings).
#ifndef VANTA_DISPATCHER_HTTP_ADAPTER_H_
#define VANTA_DISPATCHER_HTTP_ADAPTER_H_

#include "dispatcher/System.h"  // winsock before the windows.h of httplib.h

#include <httplib.h>

#include <string>

namespace vanta {
namespace dispatcher {

// Both ends of a connection, as httplib's requests carry them.
struct Endpoints {
  std::string remote_ip;
  int remote_port = 0;
  std::string local_ip;
  int local_port = 0;
};

// An httplib server that is given whole requests instead of sockets. Its
// routes, logger and settings are httplib's public ones; it never listens.
class RequestServer : public httplib::Server {
 public:
  struct Answer {
    std::string bytes;   // the whole answer, status line to body
    bool close = false;  // the connection closes after it
  };

  // Serves request (request line, headers and whole body). last: this is
  // the connection's last request. A Range header is ignored (no partial
  // answers), as is an "Expect: 100-continue" (the body is here). Thread-safe
  // as httplib's request handling is; never throws.
  Answer ServeWhole(const std::string& request, const Endpoints& endpoints, bool last);
};

}  // namespace dispatcher
}  // namespace vanta

#endif  // VANTA_DISPATCHER_HTTP_ADAPTER_H_
