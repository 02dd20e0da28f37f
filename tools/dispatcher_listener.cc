#include "tools/dispatcher_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>

namespace vanta {
namespace tools {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

bool NameIs(const std::string& name, const char* expected) {
  const size_t size = std::strlen(expected);
  if (name.size() != size) return false;
  for (size_t i = 0; i < size; ++i) {
    if (std::tolower(static_cast<unsigned char>(name[i])) !=
        std::tolower(static_cast<unsigned char>(expected[i]))) {
      return false;
    }
  }
  return true;
}

std::string TrimBlanks(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

RequestFrame Refused(int status, std::string reason) {
  RequestFrame frame;
  frame.kind = RequestFrame::Kind::kRefused;
  frame.status = status;
  frame.reason = std::move(reason);
  return frame;
}

const char* StatusText(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 408:
      return "Request Timeout";
    case 411:
      return "Length Required";
    case 413:
      return "Payload Too Large";
    case 415:
      return "Unsupported Media Type";
    case 431:
      return "Request Header Fields Too Large";
  }
  return "Error";
}

// Whether input from byte from on has a line feed that ends the headers
// (an empty line) or a line (a line feed without a carriage return before
// it).
bool EndsHeadersOrBreaksALine(const std::string& input, size_t from) {
  for (size_t at = input.find('\n', from); at != std::string::npos; at = input.find('\n', at + 1)) {
    if (at == 0 || input[at - 1] != '\r') return true;
    if (at >= 3 && input.compare(at - 3, 4, "\r\n\r\n") == 0) return true;
  }
  return false;
}

// The request line at the start of input without its HTTP version, for
// notes: what the client asked for, as far as it came.
std::string RequestLine(const std::string& input) {
  std::string line = input.substr(0, input.find_first_of("\r\n"));
  const size_t version = line.rfind(" HTTP/");
  if (version != std::string::npos) line.resize(version);
  return line.empty() ? "(no request line)" : line;
}

struct Endpoints {
  std::string remote_ip;
  int remote_port = 0;
  std::string local_ip;
  int local_port = 0;
};

void ReadAddress(const sockaddr_storage& address, std::string* ip, int* port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &in.sin_addr, text, sizeof(text));
    *port = ntohs(in.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof(text));
    *port = ntohs(in6.sin6_port);
  }
  *ip = text;
}

Endpoints EndpointsOf(socket_t sock) {
  Endpoints endpoints;
  sockaddr_storage address{};
  socklen_t size = sizeof(address);
  if (getpeername(sock, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    ReadAddress(address, &endpoints.remote_ip, &endpoints.remote_port);
  }
  size = sizeof(address);
  if (getsockname(sock, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    ReadAddress(address, &endpoints.local_ip, &endpoints.local_port);
  }
  return endpoints;
}

// One whole request in memory for httplib to read, and the answer it writes.
class RequestStream : public httplib::Stream {
 public:
  RequestStream(const std::string& request, std::string* answer, const Endpoints& endpoints)
      : request_(request), answer_(answer), endpoints_(endpoints) {}

  bool is_readable() const override { return read_ < request_.size(); }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, size_t size) override {
    const size_t count = std::min(size, request_.size() - read_);
    std::memcpy(ptr, request_.data() + read_, count);
    read_ += count;
    return static_cast<ssize_t>(count);
  }
  ssize_t write(const char* ptr, size_t size) override {
    answer_->append(ptr, size);
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = endpoints_.remote_ip;
    port = endpoints_.remote_port;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = endpoints_.local_ip;
    port = endpoints_.local_port;
  }
  // No socket: everything goes through read and write.
  socket_t socket() const override { return INVALID_SOCKET; }

 private:
  const std::string& request_;
  std::string* answer_;
  const Endpoints& endpoints_;
  size_t read_ = 0;
};

// Runs each task at once on the accepting thread. The only task httplib
// queues is process_and_close_socket, which here just hands the socket over.
class InlineQueue : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> fn) override { fn(); }
  void shutdown() override {}
};

}  // namespace

RequestFrame FrameRequest(const std::string& input, const ListenerLimits& limits) {
  const size_t max_header = limits.max_header_bytes;
  int length_count = 0;
  std::string length_text;
  bool transfer_encoding = false;
  bool content_encoding = false;
  bool expect_continue = false;
  size_t line_start = 0;
  for (bool request_line = true;; request_line = false) {
    const size_t line_end = input.find('\n', line_start);
    if (line_end == std::string::npos ? input.size() >= max_header : line_end >= max_header) {
      return Refused(
          431, "the request line and headers are over " + std::to_string(max_header) + " bytes");
    }
    if (line_end == std::string::npos) return RequestFrame();
    if (line_end == line_start || input[line_end - 1] != '\r') {
      return Refused(400, "a line of the request ends without CR LF");
    }
    const std::string line = input.substr(line_start, line_end - 1 - line_start);
    line_start = line_end + 1;
    if (request_line) continue;
    if (line.empty()) break;  // the end of the headers
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;  // httplib skips it too
    const std::string name = line.substr(0, colon);
    const std::string value = TrimBlanks(line.substr(colon + 1));
    if (NameIs(name, "Content-Length")) {
      ++length_count;
      length_text = value;
    } else if (NameIs(name, "Transfer-Encoding")) {
      transfer_encoding = true;
    } else if (NameIs(name, "Content-Encoding")) {
      content_encoding = true;
    } else if (NameIs(name, "Expect") && NameIs(value, "100-continue")) {
      expect_continue = true;
    }
  }
  if (transfer_encoding) {
    return Refused(411, "a body must come with a Content-Length, not a Transfer-Encoding");
  }
  if (content_encoding) return Refused(415, "a body must not be encoded (Content-Encoding)");
  if (length_count > 1) return Refused(400, "more than one Content-Length");
  size_t body = 0;
  if (length_count == 1) {
    if (length_text.empty() || length_text.find_first_not_of("0123456789") != std::string::npos) {
      return Refused(400, "Content-Length " + length_text + " is not a number of bytes");
    }
    const size_t digits = length_text.find_first_not_of('0');
    if (digits != std::string::npos &&
        (length_text.size() - digits > 12 ||
         (body = std::stoull(length_text.substr(digits))) > limits.max_body_bytes)) {
      return Refused(413, "a body of " + length_text.substr(digits) +
                              " bytes is over the limit of " +
                              std::to_string(limits.max_body_bytes) + " bytes");
    }
  }
  RequestFrame frame;
  frame.size = line_start + body;
  if (input.size() >= frame.size) {
    frame.kind = RequestFrame::Kind::kWhole;
  } else {
    frame.wants_continue = expect_continue;
  }
  return frame;
}

struct GuardedServer::Connection {
  // kReading: gathering a request (idle while input is empty); kServing:
  // with a serving thread, which alone touches it then; kAnswering: sending
  // the answer; kDraining: answer sent and sending side shut, throwing away
  // what the client still sends so that closing does not reset the answer.
  enum class State { kReading, kServing, kAnswering, kDraining };

  socket_t sock = INVALID_SOCKET;
  Endpoints endpoints;
  State state = State::kReading;
  // kReading: since the connection went idle, or since the request's first
  // byte; kAnswering: since the answer was ready; kDraining: since then.
  Clock::time_point since;
  std::string input;        // received and not yet served
  std::string request;      // being served
  std::string answer;       // the serving thread's answer
  std::string output;       // still to send
  size_t scanned = 0;       // bytes of input looked at for the end of the headers
  size_t request_size = 0;  // once the headers are whole: the request's bytes
  bool close_after = false;
  size_t served = 0;
  bool closed = false;

  Clock::time_point Deadline(const ListenerLimits& limits) const {
    switch (state) {
      case State::kReading:
        return since + (input.empty() ? limits.idle_timeout : limits.request_deadline);
      case State::kAnswering:
      case State::kDraining:
        return since + limits.request_deadline;
      case State::kServing:
        break;
    }
    return Clock::time_point::max();
  }
};

GuardedServer::GuardedServer(const ListenerLimits& limits, Note note)
    : limits_(limits), note_(std::move(note)) {
  new_task_queue = [] { return new InlineQueue; };
  // What the answers' Keep-Alive header tells the client.
  set_keep_alive_max_count(limits.max_requests_per_connection);
  set_keep_alive_timeout(std::chrono::ceil<std::chrono::seconds>(limits.idle_timeout).count());
  // A second guard: the I/O thread refuses larger bodies before this.
  set_payload_max_length(limits.max_body_bytes);
}

GuardedServer::~GuardedServer() { Shutdown(); }

int GuardedServer::Bind(const std::string& host, int port) {
  const int bound = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : -1);
  // httplib listens with a backlog of 5, which a burst of connections
  // overflows; listening again changes only the backlog.
  if (bound >= 0) ::listen(svr_sock_, limits_.listen_backlog);
  return bound;
}

bool GuardedServer::Serve() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (shutdown_ || serving_now_) return false;
    serving_now_ = true;
  }
  const bool ready = pipe(wake_pipe_) == 0;
  if (ready) {
    for (int fd : wake_pipe_) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    serving_ = std::make_unique<httplib::ThreadPool>(limits_.serving_threads);
    std::thread io([this] { RunIo(); });
    listen_after_bind();
    {
      std::lock_guard<std::mutex> lock(mu_);
      shutdown_ = true;
    }
    Wake();
    serving_->shutdown();  // waits for the requests being served
    io.join();
    serving_.reset();
  }
  for (Connection& conn : connections_) Close(conn);
  connections_.clear();
  for (socket_t sock : accepted_) ::close(sock);
  accepted_.clear();
  answered_.clear();
  for (int& fd : wake_pipe_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    serving_now_ = false;
  }
  served_cv_.notify_all();
  return ready;
}

void GuardedServer::Shutdown() {
  std::unique_lock<std::mutex> lock(mu_);
  shutdown_ = true;
  while (serving_now_) {
    // Closes the listening socket once httplib listens on it; until then
    // this does nothing, so try again.
    if (is_running()) stop();
    served_cv_.wait_for(lock, std::chrono::milliseconds(10));
  }
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
  fcntl(sock, F_SETFL, fcntl(sock, F_GETFL) | O_NONBLOCK);
  {
    std::lock_guard<std::mutex> lock(mu_);
    accepted_.push_back(sock);
  }
  Wake();
  return true;
}

void GuardedServer::Wake() {
  const char byte = 1;
  const ssize_t written = ::write(wake_pipe_[1], &byte, 1);
  (void)written;  // a full pipe wakes the I/O thread as well
}

void GuardedServer::RunIo() {
  std::vector<pollfd> fds;
  std::vector<Connection*> polled;
  for (;;) {
    std::vector<socket_t> accepted;
    std::vector<Connection*> answered;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (shutdown_) return;
      accepted.swap(accepted_);
      answered.swap(answered_);
    }
    connections_.remove_if([](const Connection& conn) { return conn.closed; });
    Clock::time_point now = Clock::now();
    for (socket_t sock : accepted) {
      connections_.emplace_back();
      connections_.back().sock = sock;
      connections_.back().endpoints = EndpointsOf(sock);
      connections_.back().since = now;
      if (connections_.size() > limits_.max_connections) DropLongestWaiting();
    }
    for (Connection* conn : answered) {
      conn->output += conn->answer;
      conn->answer.clear();
      conn->state = Connection::State::kAnswering;
      conn->since = now;
      Send(*conn);
    }

    fds.assign(1, pollfd{wake_pipe_[0], POLLIN, 0});
    polled.clear();
    Clock::time_point next = Clock::time_point::max();
    for (Connection& conn : connections_) {
      if (conn.closed || conn.state == Connection::State::kServing) continue;
      short events = 0;
      if (conn.state == Connection::State::kReading || conn.state == Connection::State::kDraining) {
        events |= POLLIN;
      }
      if (!conn.output.empty()) events |= POLLOUT;
      fds.push_back(pollfd{conn.sock, events, 0});
      polled.push_back(&conn);
      next = std::min(next, conn.Deadline(limits_));
    }
    int timeout_ms = 60000;
    if (next - now < std::chrono::milliseconds(timeout_ms)) {
      timeout_ms = static_cast<int>(
          std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(next - now).count()));
    }
    if (poll(fds.data(), fds.size(), timeout_ms) < 0) {
      if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (fds[0].revents != 0) {
      char drain[256];
      while (::read(wake_pipe_[0], drain, sizeof(drain)) > 0) {
      }
    }
    for (size_t i = 0; i < polled.size(); ++i) {
      Connection& conn = *polled[i];
      const short revents = fds[i + 1].revents;
      if ((revents & (POLLOUT | POLLERR | POLLHUP)) && !conn.output.empty()) Send(conn);
      if (!conn.closed && (revents & (POLLIN | POLLERR | POLLHUP)) &&
          (conn.state == Connection::State::kReading ||
           conn.state == Connection::State::kDraining)) {
        Receive(conn);
      }
    }
    now = Clock::now();
    for (Connection& conn : connections_) CheckDeadline(conn, now);
  }
}

void GuardedServer::Receive(Connection& conn) {
  char buffer[16384];
  const ssize_t count = ::recv(conn.sock, buffer, sizeof(buffer), 0);
  if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (count <= 0) {
    Close(conn);  // the client left
    return;
  }
  if (conn.state == Connection::State::kDraining) return;
  if (conn.input.empty()) conn.since = Clock::now();  // the request's first byte
  conn.input.append(buffer, static_cast<size_t>(count));
  TakeRequests(conn);
}

void GuardedServer::Send(Connection& conn) {
  while (!conn.output.empty()) {
    const ssize_t count = ::send(conn.sock, conn.output.data(), conn.output.size(), MSG_NOSIGNAL);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (count <= 0) {
      Close(conn);
      return;
    }
    conn.output.erase(0, static_cast<size_t>(count));
  }
  if (conn.state != Connection::State::kAnswering) return;
  conn.request.clear();
  conn.since = Clock::now();
  if (conn.close_after) {
    ::shutdown(conn.sock, SHUT_WR);
    conn.state = Connection::State::kDraining;
    conn.input.clear();
    return;
  }
  conn.state = Connection::State::kReading;
  TakeRequests(conn);  // a request may have come along with the last one
}

void GuardedServer::TakeRequests(Connection& conn) {
  if (conn.closed || conn.state != Connection::State::kReading || conn.input.empty()) return;
  if (conn.request_size > 0) {  // the headers are whole: wait for the body
    if (conn.input.size() >= conn.request_size) Dispatch(conn, conn.request_size);
    return;
  }
  // Frame only when the new bytes may end the headers (or break a line), so
  // that a request coming a byte at a time costs no more than its size.
  const bool may_frame = conn.input.size() >= limits_.max_header_bytes ||
                         EndsHeadersOrBreaksALine(conn.input, conn.scanned);
  conn.scanned = conn.input.size();
  if (!may_frame) return;
  RequestFrame frame = FrameRequest(conn.input, limits_);
  switch (frame.kind) {
    case RequestFrame::Kind::kIncomplete:
      conn.request_size = frame.size;
      if (frame.wants_continue) {
        conn.output += kContinue;
        Send(conn);
      }
      return;
    case RequestFrame::Kind::kRefused:
      Refuse(conn, frame.status, frame.reason);
      return;
    case RequestFrame::Kind::kWhole:
      Dispatch(conn, frame.size);
      return;
  }
}

void GuardedServer::Dispatch(Connection& conn, size_t size) {
  conn.request = conn.input.substr(0, size);
  conn.input.erase(0, size);
  conn.scanned = conn.request_size = 0;
  conn.state = Connection::State::kServing;
  Connection* serving = &conn;
  serving_->enqueue([this, serving] { ServeRequest(serving); });
}

void GuardedServer::Refuse(Connection& conn, int status, const std::string& reason) {
  note_(RequestLine(conn.input), std::to_string(status) + " " + reason);
  const std::string body = reason + "\n";
  conn.output += "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
                 "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                 "\r\nConnection: close\r\n\r\n" + body;
  conn.input.clear();
  conn.scanned = conn.request_size = 0;
  conn.state = Connection::State::kAnswering;
  conn.close_after = true;
  Send(conn);
}

void GuardedServer::CheckDeadline(Connection& conn, Clock::time_point now) {
  if (conn.closed || now < conn.Deadline(limits_)) return;
  if (conn.state == Connection::State::kReading && !conn.input.empty()) {
    Refuse(conn, 408,
           "the request was not whole within " + std::to_string(limits_.request_deadline.count()) +
               " ms (" + std::to_string(conn.input.size()) + " bytes came)");
    return;
  }
  if (conn.state == Connection::State::kAnswering && !conn.request.empty()) {
    note_(RequestLine(conn.request), "closed: the answer was not taken within " +
                                         std::to_string(limits_.request_deadline.count()) + " ms");
  }
  Close(conn);  // idle, or done with
}

void GuardedServer::DropLongestWaiting() {
  auto longest = connections_.end();
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    if (it->closed || it->state == Connection::State::kServing) continue;
    if (longest == connections_.end() || it->since < longest->since) longest = it;
  }
  if (longest == connections_.end()) return;
  note_(RequestLine(longest->input), "dropped: over " + std::to_string(limits_.max_connections) +
                                         " connections, this one waiting longest");
  Close(*longest);
  connections_.erase(longest);
}

void GuardedServer::Close(Connection& conn) {
  if (conn.closed) return;
  ::close(conn.sock);
  conn.closed = true;
  conn.input.clear();
  conn.input.shrink_to_fit();
  conn.output.clear();
  conn.output.shrink_to_fit();
}

void GuardedServer::ServeRequest(Connection* conn) {
  const bool last = ++conn->served >= limits_.max_requests_per_connection;
  bool client_closes = false;
  bool written = false;
  try {
    RequestStream stream(conn->request, &conn->answer, conn->endpoints);
    written = process_request(stream, last, client_closes, [](httplib::Request& req) {
      // The I/O thread has answered "Expect: 100-continue" when it waited for
      // the body; the body is here.
      req.headers.erase("Expect");
    });
  } catch (const std::exception&) {
    conn->answer.clear();
  }
  conn->close_after = last || client_closes || !written;
  {
    std::lock_guard<std::mutex> lock(mu_);
    answered_.push_back(conn);
  }
  Wake();
}

}  // namespace tools
}  // namespace vanta
