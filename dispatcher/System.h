// What the reference dispatcher needs from the operating system, the same
// on every system: sockets, the descriptor limit, the stop request and
// replacing a file. dispatcher/posix/System.cc and dispatcher/win32/System.cc
// only call the OS; everything else is written once above them.
#ifndef VANTA_DISPATCHER_SYSTEM_H_
#define VANTA_DISPATCHER_SYSTEM_H_

#if defined(_WIN32)
// winsock2.h must come before windows.h, which httplib.h includes.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#endif

#include <cstddef>
#include <string>

namespace vanta {
namespace dispatcher {

#if defined(_WIN32)
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
using PollEntry = WSAPOLLFD;
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
using PollEntry = pollfd;
#endif

// Makes the socket calls (getaddrinfo included) usable; Windows starts
// Winsock once, for the process's life. False when they are not.
bool StartSockets();
// A socket of family (AF_INET or AF_INET6) and type (SOCK_STREAM or
// SOCK_DGRAM), non-blocking and not inherited by child processes;
// kNoSocket on failure (see LastSocketError).
Socket OpenSocket(int family, int type);
// The next connection waiting on listening, non-blocking; kNoSocket when
// there is none or on failure.
Socket AcceptConnection(Socket listening);
void CloseSocket(Socket socket);
// Lets a listening socket take its port again right after an earlier
// process left it, but never while another socket listens on it.
void ReserveListeningPort(Socket socket);
// An IPv6 socket takes IPv6 only, so that "::" and "0.0.0.0" are two
// separate listeners on every system.
void KeepIpv6Only(Socket socket);
// Stops sending: the peer reads the end of the stream.
void ShutdownSending(Socket socket);

// Like send and recv, without SIGPIPE: bytes moved, or -1 (see
// LastSocketError).
long SendSome(Socket socket, const char* data, size_t size);
long ReceiveSome(Socket socket, char* data, size_t size);
// Like poll: the number of entries with events, or -1.
int PollSockets(PollEntry* entries, size_t count, int timeout_ms);

// The error of the last socket call on this thread, and what it means.
int LastSocketError();
bool IsWouldBlock(int error);  // try again later (interrupted included)
bool IsAddressInUse(int error);
// The address is not one of this machine's, or its family is not there
// (no IPv6).
bool IsAddressUnavailable(int error);
bool IsOutOfDescriptors(int error);
std::string SocketErrorText(int error);

// Raises the soft limit on open descriptors to the hard one.
void RaiseDescriptorLimit();
// How many connections fit under the descriptor limit beside reserve
// descriptors for the process's own files; at least 1.
size_t ConnectionCapacity(size_t reserve);
// Gives freed heap memory back to the system, after a flood of requests.
void ReturnFreeMemory();

// Renames from over to in one step.
bool ReplaceFile(const std::string& from, const std::string& to);

// The stop request: SIGINT or SIGTERM on POSIX systems, Ctrl-C, Ctrl-Break
// or closing the console on Windows. Arm before any thread starts (POSIX
// threads inherit the blocked signals); WaitForStopRequest blocks until one
// comes and names it; call StopRequestHandled once the process has cleaned
// up (Windows ends it when the console closes and the handler returns).
void ArmStopRequest();
std::string WaitForStopRequest();
void StopRequestHandled();

}  // namespace dispatcher
}  // namespace vanta

#endif  // VANTA_DISPATCHER_SYSTEM_H_
