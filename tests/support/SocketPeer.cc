#include "tests/support/SocketPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace vanta {
namespace testing {

namespace {

// Requests larger than this are not what these tests send.
constexpr size_t kMaxRequestBytes = 1 << 20;

// Closes with SO_LINGER 0, which sends RST instead of FIN.
void Reset(int fd) {
  linger hard{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
  close(fd);
}

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

}  // namespace

std::string RawHttpAnswer(int status, const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) + " Scripted\r\nContent-Type: application/json\r\n" +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

SocketPeer::SocketPeer(const SocketPolicy& policy) : policy_(policy) {
  if (pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("socket peer: no pipe");
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      listen(listen_fd_, 64) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::runtime_error("socket peer cannot listen");
  }
  port_ = ntohs(addr.sin_port);
  accept_thread_ = std::thread([this] { AcceptLoop(); });
}

SocketPeer::~SocketPeer() {
  const char stop = 1;
  if (write(wake_[1], &stop, 1) != 1) std::abort();  // a peer that cannot stop would hang
  accept_thread_.join();
  for (std::thread& thread : connection_threads_) thread.join();
  close(listen_fd_);
  close(wake_[0]);
  close(wake_[1]);
}

std::string SocketPeer::Url(const std::string& path, const std::string& scheme) const {
  return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
}

size_t SocketPeer::Connections() const {
  std::lock_guard<std::mutex> lock(mu_);
  return connections_;
}

std::vector<RecordedRequest> SocketPeer::Requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

bool SocketPeer::WaitFor(int fd, short events, int timeout_ms) const {
  pollfd fds[2] = {{fd, events, 0}, {wake_[0], POLLIN, 0}};
  if (poll(fds, 2, timeout_ms) <= 0) return false;
  return fds[1].revents == 0;
}

bool SocketPeer::Pause(int ms) const {
  pollfd wake{wake_[0], POLLIN, 0};
  return poll(&wake, 1, ms) == 0;
}

void SocketPeer::DrainUntilClosed(int fd) const {
  char buffer[4096];
  while (WaitFor(fd, POLLIN, -1)) {
    if (recv(fd, buffer, sizeof(buffer), 0) <= 0) return;
  }
}

void SocketPeer::AcceptLoop() {
  while (WaitFor(listen_fd_, POLLIN, -1)) {
    sockaddr_in addr{};
    socklen_t len = sizeof(addr);
    int fd =
        accept4(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) continue;
    {
      std::lock_guard<std::mutex> lock(mu_);
      ++connections_;
    }
    const int client_port = ntohs(addr.sin_port);
    connection_threads_.emplace_back([this, fd, client_port] { Serve(fd, client_port); });
  }
}

void SocketPeer::Serve(int fd, int client_port) {
  using Action = SocketPolicy::Action;
  switch (policy_.action) {
    case Action::kCloseAtOnce:
      close(fd);
      return;
    case Action::kAbortTlsHandshake: {
      // A fatal handshake_failure alert in a TLS 1.2 record.
      static const char kAlert[] = {0x15, 0x03, 0x03, 0x00, 0x02, 0x02, 0x28};
      char hello[4096];
      if (WaitFor(fd, POLLIN, -1) && recv(fd, hello, sizeof(hello), 0) > 0) {
        send(fd, kAlert, sizeof(kAlert), MSG_NOSIGNAL);
      }
      close(fd);
      return;
    }
    case Action::kSend:
      break;
  }
  RecordedRequest request;
  if (ReadRequest(fd, client_port, request)) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      requests_.push_back(request);
    }
    SendAnswer(fd);
    if (policy_.reset_after != std::string::npos) {
      Reset(fd);
      return;
    }
    shutdown(fd, SHUT_WR);
    DrainUntilClosed(fd);
  }
  close(fd);
}

bool SocketPeer::ReadRequest(int fd, int client_port, RecordedRequest& request) {
  std::string data;
  size_t header_end = std::string::npos;
  size_t total = std::string::npos;  // headers and body, once the headers are in
  char buffer[65536];
  while (data.size() < std::min(total, kMaxRequestBytes)) {
    if (!WaitFor(fd, POLLIN, -1)) return false;
    ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
    if (n <= 0) return false;
    data.append(buffer, static_cast<size_t>(n));
    if (header_end != std::string::npos) continue;
    header_end = data.find("\r\n\r\n");
    if (header_end == std::string::npos) continue;

    size_t line_end = data.find("\r\n");
    std::string line = data.substr(0, line_end);
    size_t space1 = line.find(' ');
    size_t space2 = line.find(' ', space1 + 1);
    request.method = line.substr(0, space1);
    request.target = line.substr(space1 + 1, space2 - space1 - 1);
    size_t q = request.target.find('?');
    request.has_query = q != std::string::npos;
    request.path = request.target.substr(0, q);
    if (request.has_query) request.query = request.target.substr(q + 1);
    size_t length = 0;
    for (size_t pos = line_end + 2; pos < header_end;) {
      size_t next = data.find("\r\n", pos);
      std::string header = data.substr(pos, next - pos);
      size_t colon = header.find(':');
      std::string name = header.substr(0, colon);
      std::string value = colon == std::string::npos ? "" : Trim(header.substr(colon + 1));
      request.headers.emplace(name, value);
      if (strcasecmp(name.c_str(), "Content-Length") == 0)
        length = std::strtoul(value.c_str(), nullptr, 10);
      pos = next + 2;
    }
    total = header_end + 4 + length;
  }
  if (total == std::string::npos || data.size() < total) return false;
  request.body = data.substr(header_end + 4, total - header_end - 4);
  request.client_port = client_port;
  return true;
}

void SocketPeer::SendAnswer(int fd) {
  const std::string& bytes = policy_.bytes;
  const size_t limit = std::min(bytes.size(), policy_.reset_after);
  const int interval = static_cast<int>(policy_.byte_interval.count());
  size_t sent = 0;
  while (sent < limit) {
    // A trickle pauses before each byte; the pause ends early when the peer stops.
    if (interval > 0 && !Pause(interval)) return;
    if (!WaitFor(fd, POLLOUT, -1)) return;
    size_t chunk = interval > 0 ? 1 : limit - sent;
    ssize_t n = send(fd, bytes.data() + sent, chunk, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

}  // namespace testing
}  // namespace vanta
