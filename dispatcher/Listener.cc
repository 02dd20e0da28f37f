#include "dispatcher/Listener.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace vanta {
namespace dispatcher {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
// Unfinished requests past this many bytes make a flood: once they are
// gone, the freed memory goes back to the system.
constexpr size_t kFloodBytes = 1024 * 1024;
// Connections taken from each listening socket at one readiness.
constexpr int kAcceptBurst = 64;

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

void ReadAddress(const sockaddr_storage& address, socklen_t size, std::string* ip, int* port) {
  char host[NI_MAXHOST] = "";
  char service[NI_MAXSERV] = "";
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), size, host, sizeof(host), service,
                  sizeof(service), NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
    *ip = host;
    *port = std::atoi(service);
  }
}

Endpoints EndpointsOf(Socket sock) {
  Endpoints endpoints;
  sockaddr_storage address{};
  socklen_t size = sizeof(address);
  if (getpeername(sock, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    ReadAddress(address, size, &endpoints.remote_ip, &endpoints.remote_port);
  }
  size = sizeof(address);
  if (getsockname(sock, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    ReadAddress(address, size, &endpoints.local_ip, &endpoints.local_port);
  }
  return endpoints;
}

Bound Failed(Bound::Failure failure, std::string reason) {
  Bound bound;
  bound.failure = failure;
  bound.reason = std::move(reason);
  return bound;
}

Bound SocketFailure(int error) {
  const Bound::Failure failure = IsAddressInUse(error)         ? Bound::Failure::kInUse
                                 : IsAddressUnavailable(error) ? Bound::Failure::kUnavailable
                                                               : Bound::Failure::kOther;
  return Failed(failure, SocketErrorText(error));
}

// A datagram socket on the loopback address that is connected to itself:
// a byte sent to it wakes the poll that watches it, on every system.
Socket OpenWakeSocket() {
  const Socket sock = OpenSocket(AF_INET, SOCK_DGRAM);
  if (sock == kNoSocket) return kNoSocket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  sockaddr* any = reinterpret_cast<sockaddr*>(&address);
  if (bind(sock, any, size) != 0 || getsockname(sock, any, &size) != 0 ||
      connect(sock, any, size) != 0) {
    CloseSocket(sock);
    return kNoSocket;
  }
  return sock;
}

// An address in its standard numeric form: getaddrinfo alone also takes
// the old shorthand "1.2.3" (for 1.2.0.3), which no one means today.
bool IsAddressText(const std::string& address) {
  unsigned char bytes[16];
  return inet_pton(AF_INET, address.c_str(), bytes) == 1 ||
         inet_pton(AF_INET6, address.c_str(), bytes) == 1;
}

}  // namespace

struct Listener::Connection {
  // kReading: gathering a request (idle while input is empty); kServing:
  // with a serving thread, which alone touches it then; kAnswering: sending
  // the answer; kDraining: answer sent and sending side shut, throwing away
  // what the client still sends so that closing does not reset the answer.
  enum class State { kReading, kServing, kAnswering, kDraining };

  Socket sock = kNoSocket;
  const Site* site = nullptr;
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
  size_t charged = 0;       // bytes counted against the unfinished bytes
  bool close_after = false;
  size_t served = 0;
  bool closed = false;

  Clock::time_point Deadline(const Limits& limits) const {
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

Listener::Listener(const Limits& limits, Note note)
    : limits_(limits),
      note_(std::move(note)),
      max_connections_(limits.max_connections > 0 ? limits.max_connections
                                                  : ConnectionCapacity(kReservedDescriptors)) {}

Listener::~Listener() { Stop(); }

Bound Listener::Listen(const std::string& address, int port, const Site& site) {
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (!StartSockets() || !IsAddressText(address) ||
      getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
    return Failed(Bound::Failure::kNotAnAddress, "not an IPv4 or IPv6 address");
  }
  const Socket sock = OpenSocket(found->ai_family, SOCK_STREAM);
  if (sock == kNoSocket) {
    freeaddrinfo(found);
    return SocketFailure(LastSocketError());
  }
  if (found->ai_family == AF_INET6) KeepIpv6Only(sock);
  ReserveListeningPort(sock);
  sockaddr_storage bound_address{};
  socklen_t size = sizeof(bound_address);
  const bool listening =
      bind(sock, found->ai_addr, static_cast<socklen_t>(found->ai_addrlen)) == 0 &&
      listen(sock, limits_.listen_backlog) == 0 &&
      getsockname(sock, reinterpret_cast<sockaddr*>(&bound_address), &size) == 0;
  const int error = LastSocketError();
  freeaddrinfo(found);
  if (!listening) {
    CloseSocket(sock);
    return SocketFailure(error);
  }
  Bound bound;
  std::string ip;
  ReadAddress(bound_address, size, &ip, &bound.port);
  listening_.push_back(Listening{sock, site});
  return bound;
}

bool Listener::Start() {
  wake_ = OpenWakeSocket();
  if (wake_ == kNoSocket) return false;
  serving_ = std::make_unique<httplib::ThreadPool>(limits_.serving_threads);
  io_ = std::thread([this] { RunIo(); });
  return true;
}

void Listener::Stop() {
  {
    MutexLock lock(&mu_);
    stopping_ = true;
  }
  if (io_.joinable()) {
    Wake();
    io_.join();
  }
  if (serving_ != nullptr) {
    serving_->shutdown();  // waits for the requests being served
    serving_.reset();
  }
  for (Connection& conn : connections_) Close(conn);
  connections_.clear();
  {
    MutexLock lock(&mu_);
    answered_.clear();
  }
  for (const Listening& listening : listening_) CloseSocket(listening.socket);
  listening_.clear();
  if (wake_ != kNoSocket) CloseSocket(wake_);
  wake_ = kNoSocket;
}

void Listener::Wake() {
  const char byte = 1;
  SendSome(wake_, &byte, 1);  // a full buffer wakes the I/O thread as well
}

void Listener::RunIo() {
  std::vector<PollEntry> entries;
  std::vector<Watched> watched;
  while (TakeAnswered()) {
    const int timeout_ms = GatherPolled(&entries, &watched);
    if (PollSockets(entries.data(), entries.size(), timeout_ms) < 0) {
      if (!IsWouldBlock(LastSocketError())) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      continue;
    }
    HandleEvents(entries, watched);
    const Clock::time_point now = Clock::now();
    for (Connection& conn : connections_) CheckDeadline(conn, now);
    if (return_memory_ && unfinished_bytes_ == 0) {
      ReturnFreeMemory();
      return_memory_ = false;
    }
  }
}

bool Listener::TakeAnswered() {
  std::vector<Connection*> answered;
  {
    MutexLock lock(&mu_);
    if (stopping_) return false;
    answered.swap(answered_);
  }
  connections_.remove_if([](const Connection& conn) { return conn.closed; });
  const Clock::time_point now = Clock::now();
  for (Connection* conn : answered) {
    conn->output += conn->answer;
    conn->answer.clear();
    conn->state = Connection::State::kAnswering;
    conn->since = now;
    Send(*conn);
  }
  return true;
}

// Fills entries with the sockets to watch: the wake socket first, then the
// listening sockets (unless accepting waits) and the connections, each
// named by watched. The poll's timeout in milliseconds, up to the nearest
// deadline.
int Listener::GatherPolled(std::vector<PollEntry>* entries, std::vector<Watched>* watched) {
  const Clock::time_point now = Clock::now();
  entries->assign(1, PollEntry{wake_, POLLIN, 0});
  watched->assign(1, Watched{});
  Clock::time_point next = Clock::time_point::max();
  if (now < accept_again_) {
    next = accept_again_;
  } else {
    for (const Listening& listening : listening_) {
      entries->push_back(PollEntry{listening.socket, POLLIN, 0});
      watched->push_back(Watched{&listening, nullptr});
    }
  }
  for (Connection& conn : connections_) {
    if (conn.closed || conn.state == Connection::State::kServing) continue;
    short events = 0;
    if (conn.state == Connection::State::kReading || conn.state == Connection::State::kDraining) {
      events |= POLLIN;
    }
    if (!conn.output.empty()) events |= POLLOUT;
    entries->push_back(PollEntry{conn.sock, events, 0});
    watched->push_back(Watched{nullptr, &conn});
    next = std::min(next, conn.Deadline(limits_));
  }
  constexpr int kLongest = 60000;
  if (next - now >= std::chrono::milliseconds(kLongest)) return kLongest;
  return static_cast<int>(
      std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(next - now).count()));
}

void Listener::HandleEvents(const std::vector<PollEntry>& entries,
                            const std::vector<Watched>& watched) {
  if (entries[0].revents != 0) {
    char drain[256];
    while (ReceiveSome(wake_, drain, sizeof(drain)) > 0) {
    }
  }
  for (size_t i = 1; i < entries.size(); ++i) {
    const short revents = entries[i].revents;
    if (revents == 0) continue;
    if (watched[i].listening != nullptr) {
      Accept(*watched[i].listening);
      continue;
    }
    // A connection dropped by an accept above is closed, not gone.
    Connection& conn = *watched[i].conn;
    if ((revents & (POLLOUT | POLLERR | POLLHUP)) && !conn.closed && !conn.output.empty()) {
      Send(conn);
    }
    if (!conn.closed && (revents & (POLLIN | POLLERR | POLLHUP)) &&
        (conn.state == Connection::State::kReading || conn.state == Connection::State::kDraining)) {
      Receive(conn);
    }
  }
}

void Listener::Accept(const Listening& listening) {
  for (int i = 0; i < kAcceptBurst; ++i) {
    const Socket sock = AcceptConnection(listening.socket);
    if (sock == kNoSocket) {
      const int error = LastSocketError();
      // Out of descriptors: make room, or wait a little before trying again.
      if (IsOutOfDescriptors(error) && !DropLongestWaiting("dropped: out of descriptors")) {
        accept_again_ = Clock::now() + std::chrono::milliseconds(100);
      }
      return;
    }
    connections_.emplace_back();
    Connection& conn = connections_.back();
    conn.sock = sock;
    conn.site = &listening.site;
    conn.endpoints = EndpointsOf(sock);
    conn.since = Clock::now();
    if (++open_ > max_connections_) {
      DropLongestWaiting("dropped: over " + std::to_string(max_connections_) +
                         " connections, this one waiting longest");
    }
  }
}

void Listener::Receive(Connection& conn) {
  char buffer[16384];
  const long count = ReceiveSome(conn.sock, buffer, sizeof(buffer));
  if (count < 0 && IsWouldBlock(LastSocketError())) return;
  if (count <= 0) {
    Close(conn);  // the client left
    return;
  }
  if (conn.state == Connection::State::kDraining) return;
  if (conn.input.empty()) conn.since = Clock::now();  // the request's first byte
  conn.input.append(buffer, static_cast<size_t>(count));
  if (Charge(conn)) TakeRequests(conn);
}

void Listener::Send(Connection& conn) {
  while (!conn.output.empty()) {
    const long count = SendSome(conn.sock, conn.output.data(), conn.output.size());
    if (count < 0 && IsWouldBlock(LastSocketError())) return;
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
    ShutdownSending(conn.sock);
    conn.state = Connection::State::kDraining;
    conn.input.clear();
    Charge(conn);
    return;
  }
  conn.state = Connection::State::kReading;
  TakeRequests(conn);  // a request may have come along with the last one
}

void Listener::TakeRequests(Connection& conn) {
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
      if (frame.size == 0 || !Charge(conn)) return;
      conn.input.reserve(frame.size);  // one allocation for the whole body
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

// The connection holds (or, its headers read, will hold) the larger of its
// input and its request; what it holds beyond its charge is charged now.
bool Listener::Charge(Connection& conn) {
  const size_t holds = std::max(conn.input.size(), conn.request_size);
  if (holds > conn.charged && unfinished_bytes_ - conn.charged + holds > limits_.unfinished_bytes) {
    Refuse(conn, 503,
           "the dispatcher holds too many unfinished requests (" +
               std::to_string(unfinished_bytes_) + " bytes); try again later");
    return false;
  }
  unfinished_bytes_ = unfinished_bytes_ - conn.charged + holds;
  conn.charged = holds;
  if (unfinished_bytes_ > kFloodBytes) return_memory_ = true;
  return true;
}

void Listener::Dispatch(Connection& conn, size_t size) {
  conn.request = conn.input.substr(0, size);
  conn.input.erase(0, size);
  conn.scanned = conn.request_size = 0;
  Charge(conn);  // holds less now: cannot fail
  conn.state = Connection::State::kServing;
  Connection* serving = &conn;
  serving_->enqueue([this, serving] { ServeRequest(serving); });
}

void Listener::Refuse(Connection& conn, int status, const std::string& reason) {
  note_(conn.site->name, RequestLine(conn.input), std::to_string(status) + " " + reason);
  const std::string body = reason + "\n";
  conn.output += "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
                 "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                 "\r\nConnection: close\r\n\r\n" + body;
  conn.input.clear();
  conn.input.shrink_to_fit();
  conn.scanned = conn.request_size = 0;
  unfinished_bytes_ -= conn.charged;
  conn.charged = 0;
  conn.state = Connection::State::kAnswering;
  conn.close_after = true;
  Send(conn);
}

void Listener::CheckDeadline(Connection& conn, Clock::time_point now) {
  if (conn.closed || now < conn.Deadline(limits_)) return;
  if (conn.state == Connection::State::kReading && !conn.input.empty()) {
    Refuse(conn, 408,
           "the request was not whole within " + std::to_string(limits_.request_deadline.count()) +
               " ms (" + std::to_string(conn.input.size()) + " bytes came)");
    return;
  }
  if (conn.state == Connection::State::kAnswering && !conn.request.empty()) {
    note_(conn.site->name, RequestLine(conn.request),
          "closed: the answer was not taken within " +
              std::to_string(limits_.request_deadline.count()) + " ms");
  }
  Close(conn);  // idle, or done with
}

bool Listener::DropLongestWaiting(const std::string& why) {
  auto longest = connections_.end();
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    if (it->closed || it->state == Connection::State::kServing) continue;
    if (longest == connections_.end() || it->since < longest->since) longest = it;
  }
  if (longest == connections_.end()) return false;
  note_(longest->site->name, RequestLine(longest->input), why);
  Close(*longest);  // gone from the list with the next answers taken
  return true;
}

void Listener::Close(Connection& conn) {
  if (conn.closed) return;
  CloseSocket(conn.sock);
  conn.closed = true;
  --open_;
  unfinished_bytes_ -= conn.charged;
  conn.charged = 0;
  for (std::string* text : {&conn.input, &conn.request, &conn.answer, &conn.output}) {
    std::string().swap(*text);
  }
}

void Listener::ServeRequest(Connection* conn) {
  const bool last = ++conn->served >= limits_.max_requests_per_connection;
  RequestServer::Answer answer =
      conn->site->server->ServeWhole(conn->request, conn->endpoints, last);
  conn->answer = std::move(answer.bytes);
  conn->close_after = answer.close;
  {
    MutexLock lock(&mu_);
    answered_.push_back(conn);
  }
  Wake();
}

}  // namespace dispatcher
}  // namespace vanta
