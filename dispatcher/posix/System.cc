// The reference dispatcher's system calls on POSIX systems.
#include "dispatcher/System.h"

#include <fcntl.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vanta {
namespace dispatcher {

namespace {

#if defined(MSG_NOSIGNAL)
constexpr int kNoSignal = MSG_NOSIGNAL;
#else
constexpr int kNoSignal = 0;
#endif

// Non-blocking and closed on exec; the socket is closed when that fails.
Socket Prepared(Socket socket) {
  if (socket < 0) return kNoSocket;
  const int flags = fcntl(socket, F_GETFL);
  if (flags < 0 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0 ||
      fcntl(socket, F_SETFD, FD_CLOEXEC) != 0) {
    ::close(socket);
    return kNoSocket;
  }
  return socket;
}

void SetFlag(Socket socket, int level, int name) {
  const int yes = 1;
  setsockopt(socket, level, name, &yes, sizeof(yes));
}

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

bool StartSockets() { return true; }

Socket OpenSocket(int family, int type) { return Prepared(::socket(family, type, 0)); }

// Without Nagle's delay: reports come one by one over a kept-alive
// connection, and each is answered at once.
Socket AcceptConnection(Socket listening) {
  const Socket socket = Prepared(::accept(listening, nullptr, nullptr));
  if (socket != kNoSocket) SetFlag(socket, IPPROTO_TCP, TCP_NODELAY);
  return socket;
}

void CloseSocket(Socket socket) { ::close(socket); }

// SO_REUSEADDR alone: the default of many servers also asks to share the
// port (SO_REUSEPORT), which would split the requests between two
// dispatchers.
void ReserveListeningPort(Socket socket) { SetFlag(socket, SOL_SOCKET, SO_REUSEADDR); }

void KeepIpv6Only(Socket socket) { SetFlag(socket, IPPROTO_IPV6, IPV6_V6ONLY); }

void ShutdownSending(Socket socket) { ::shutdown(socket, SHUT_WR); }

long SendSome(Socket socket, const char* data, size_t size) {
  return static_cast<long>(::send(socket, data, size, kNoSignal));
}

long ReceiveSome(Socket socket, char* data, size_t size) {
  return static_cast<long>(::recv(socket, data, size, 0));
}

int PollSockets(PollEntry* entries, size_t count, int timeout_ms) {
  return ::poll(entries, static_cast<nfds_t>(count), timeout_ms);
}

int LastSocketError() { return errno; }

bool IsWouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

bool IsAddressInUse(int error) { return error == EADDRINUSE; }

bool IsAddressUnavailable(int error) {
  return error == EADDRNOTAVAIL || error == EAFNOSUPPORT || error == EPROTONOSUPPORT;
}

bool IsOutOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

std::string SocketErrorText(int error) { return std::strerror(error); }

void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

size_t ConnectionCapacity(size_t reserve) {
  // Beyond this the descriptors are not the bound any more: poll's work is.
  constexpr rlim_t kMost = 1 << 20;
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1;
  const rlim_t soft = std::min(limit.rlim_cur, kMost);
  return soft > reserve ? static_cast<size_t>(soft - reserve) : 1;
}

void ReturnFreeMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

void ArmStopRequest() {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

std::string WaitForStopRequest() {
  const sigset_t signals = StopSignals();
  int number = 0;
  sigwait(&signals, &number);
  return "signal " + std::to_string(number);
}

void StopRequestHandled() {}

}  // namespace dispatcher
}  // namespace vanta
