// The reference dispatcher's system calls on Windows.
#include "dispatcher/System.h"

// clang-format off
#include <windows.h>
// clang-format on

#include <string>

namespace vanta {
namespace dispatcher {

namespace {

Socket Prepared(Socket socket) {
  if (socket == INVALID_SOCKET) return kNoSocket;
  u_long non_blocking = 1;
  if (ioctlsocket(socket, FIONBIO, &non_blocking) != 0 ||
      !SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0)) {
    closesocket(socket);
    return kNoSocket;
  }
  return socket;
}

void SetFlag(Socket socket, int level, int name) {
  const DWORD yes = 1;
  setsockopt(socket, level, name, reinterpret_cast<const char*>(&yes), sizeof(yes));
}

// Set by the console handler; WaitForStopRequest waits for it.
HANDLE stop_event = nullptr;
// Set once the process has cleaned up, so that the handler of a closing
// console returns only then (Windows ends the process when it returns).
HANDLE handled_event = nullptr;
const char* stop_name = "";

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      stop_name = "Ctrl-C";
      break;
    case CTRL_BREAK_EVENT:
      stop_name = "Ctrl-Break";
      break;
    case CTRL_CLOSE_EVENT:
      stop_name = "console close";
      break;
    default:
      stop_name = "logoff or shutdown";
      break;
  }
  SetEvent(stop_event);
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
    WaitForSingleObject(handled_event, 4000);  // Windows allows 5 s
  }
  return TRUE;
}

}  // namespace

bool StartSockets() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

Socket OpenSocket(int family, int type) {
  if (!StartSockets()) return kNoSocket;
  return Prepared(::socket(family, type, 0));
}

// Without Nagle's delay: reports come one by one over a kept-alive
// connection, and each is answered at once.
Socket AcceptConnection(Socket listening) {
  const Socket socket = Prepared(::accept(listening, nullptr, nullptr));
  if (socket != kNoSocket) SetFlag(socket, IPPROTO_TCP, TCP_NODELAY);
  return socket;
}

void CloseSocket(Socket socket) { closesocket(socket); }

// SO_REUSEADDR would let another process take a port this one listens on;
// exclusive use refuses that and still rebinds after an earlier process.
void ReserveListeningPort(Socket socket) { SetFlag(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE); }

void KeepIpv6Only(Socket socket) { SetFlag(socket, IPPROTO_IPV6, IPV6_V6ONLY); }

void ShutdownSending(Socket socket) { ::shutdown(socket, SD_SEND); }

long SendSome(Socket socket, const char* data, size_t size) {
  return ::send(socket, data, static_cast<int>(size), 0);
}

long ReceiveSome(Socket socket, char* data, size_t size) {
  return ::recv(socket, data, static_cast<int>(size), 0);
}

int PollSockets(PollEntry* entries, size_t count, int timeout_ms) {
  return WSAPoll(entries, static_cast<ULONG>(count), timeout_ms);
}

int LastSocketError() { return WSAGetLastError(); }

bool IsWouldBlock(int error) { return error == WSAEWOULDBLOCK || error == WSAEINTR; }

bool IsAddressInUse(int error) { return error == WSAEADDRINUSE || error == WSAEACCES; }

bool IsAddressUnavailable(int error) {
  return error == WSAEADDRNOTAVAIL || error == WSAEAFNOSUPPORT || error == WSAEPROTONOSUPPORT;
}

bool IsOutOfDescriptors(int error) { return error == WSAEMFILE || error == WSAENOBUFS; }

std::string SocketErrorText(int error) {
  // The usual ones in words of their own: the system's message tables may
  // be missing (wine has none for them).
  switch (error) {
    case WSAEADDRINUSE:
      return "Address already in use";
    case WSAEADDRNOTAVAIL:
      return "Cannot assign requested address";
    case WSAEAFNOSUPPORT:
      return "Address family not supported";
    case WSAEACCES:
      return "Permission denied";
  }
  char text[256] = "";
  DWORD size = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                              static_cast<DWORD>(error), 0, text, sizeof(text), nullptr);
  while (size > 0 && (text[size - 1] == '\n' || text[size - 1] == '\r' || text[size - 1] == '.')) {
    --size;
  }
  return size > 0 ? std::string(text, size) : "error " + std::to_string(error);
}

// Windows has no descriptor limit for sockets.
void RaiseDescriptorLimit() {}

size_t ConnectionCapacity(size_t reserve) {
  constexpr size_t kMost = 16384;  // what one poll over every socket still handles
  return kMost - reserve;
}

void ReturnFreeMemory() {}

bool ReplaceFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void ArmStopRequest() {
  stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  handled_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

std::string WaitForStopRequest() {
  WaitForSingleObject(stop_event, INFINITE);
  return stop_name;
}

void StopRequestHandled() { SetEvent(handled_event); }

}  // namespace dispatcher
}  // namespace vanta
