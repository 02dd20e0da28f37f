// Where one HTTP request ends in the bytes a connection has sent, and what
// the listener refuses before any handler sees the request. Pure.
//
// A request is framed by its Content-Length alone; the listener answers by
// itself, and closes the connection, when it will not take a request whole:
//   400  a line without CR LF, a control byte in a header line, a header
//        name that is not a token (white space before the colon included),
//        a header line continuing the one before it (obs-fold), a
//        Content-Length that is not plain digits, or more than one;
//   411  a Transfer-Encoding (a body must come with a Content-Length);
//   413  a Content-Length over Limits::max_body_bytes;
//   415  a Content-Encoding;
//   431  a request line and headers over Limits::max_header_bytes.
#ifndef VANTA_DISPATCHER_FRAMING_H_
#define VANTA_DISPATCHER_FRAMING_H_

#include <chrono>
#include <cstddef>
#include <string>

namespace vanta {
namespace dispatcher {

struct Limits {
  // A request must be whole this long after its first byte arrived, and an
  // answer taken by the client this long after it was ready.
  std::chrono::milliseconds request_deadline{10000};
  // A kept-alive connection that sends nothing for this long is closed.
  std::chrono::milliseconds idle_timeout{5000};
  size_t max_header_bytes = 16 * 1024;  // request line and headers
  size_t max_body_bytes = 64 * 1024;
  // All unfinished requests together may hold this many bytes (a declared
  // body counts whole); a request that would pass it is answered 503.
  size_t unfinished_bytes = 8 * 1024 * 1024;
  // Past this many open connections the one waiting longest for its
  // request is dropped; 0: as many as the descriptor limit allows beside
  // kReservedDescriptors.
  size_t max_connections = 0;
  size_t serving_threads = 8;
  size_t max_requests_per_connection = 1000;
  int listen_backlog = 1024;
};

// Descriptors kept for the process's own files (standard streams, the
// log, listening sockets, the ready file) when the connection cap is
// derived from the descriptor limit.
constexpr size_t kReservedDescriptors = 64;

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
RequestFrame FrameRequest(const std::string& input, const Limits& limits);

// The reason phrase of the statuses the listener answers itself.
const char* StatusText(int status);

}  // namespace dispatcher
}  // namespace vanta

#endif  // VANTA_DISPATCHER_FRAMING_H_
