// Connections that break at the socket or TLS level, on both exchanges,
// against a raw TCP peer on 127.0.0.1 that speaks no HTTP of its own.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/LocalPeer.h"
#include "vanta/WebService.h"

namespace vanta {
namespace {

// The few socket calls that differ between winsock and POSIX.
#if defined(_WIN32)
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
constexpr int kNoSignal = 0;  // winsock raises no signal on a broken connection
constexpr int kShutBoth = SD_BOTH;
void CloseSocket(Socket fd) { closesocket(fd); }
bool Readable(Socket fd, int wait_ms) {
  WSAPOLLFD ready{fd, POLLIN, 0};
  return WSAPoll(&ready, 1, wait_ms) > 0;
}
// Winsock is started for as long as the object lives.
struct SocketLibrary {
  SocketLibrary() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~SocketLibrary() { WSACleanup(); }
};
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
constexpr int kNoSignal = MSG_NOSIGNAL;
constexpr int kShutBoth = SHUT_RDWR;
void CloseSocket(Socket fd) { close(fd); }
bool Readable(Socket fd, int wait_ms) {
  pollfd ready{fd, POLLIN, 0};
  return poll(&ready, 1, wait_ms) > 0;
}
struct SocketLibrary {};
#endif

bool SendAll(Socket fd, const std::string& bytes) {
  return send(fd, bytes.data(), static_cast<int>(bytes.size()), kNoSignal) ==
         static_cast<int>(bytes.size());
}

// Hands each connection, on a thread of its own, to serve, which should
// look at stopping() between steps; the destructor waits for them all.
class RawPeer {
 public:
  explicit RawPeer(std::function<void(Socket fd, RawPeer&)> serve) : serve_(std::move(serve)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
    listen(listener_, 16);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    url_ = "://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/f";
    accepter_ = std::thread([this] {
      for (Socket fd; (fd = accept(listener_, nullptr, nullptr)) != kNoSocket;) {
        ++connections_;  // before the client can see this connection end
        served_.emplace_back([this, fd] {
          serve_(fd, *this);
          CloseSocket(fd);
        });
      }
    });
  }
  ~RawPeer() {
    stopping_ = true;
    shutdown(listener_, kShutBoth);
    CloseSocket(listener_);
    accepter_.join();
    for (std::thread& thread : served_) thread.join();
  }
  std::string Url(const std::string& scheme) const { return scheme + url_; }
  bool stopping() const { return stopping_; }
  int connections() const { return connections_; }

 private:
  [[maybe_unused]] SocketLibrary library_;  // before the first socket
  std::function<void(Socket, RawPeer&)> serve_;
  Socket listener_ = socket(AF_INET, SOCK_STREAM, 0);
  std::string url_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread accepter_;
  std::vector<std::thread> served_;
};

// Reads what the client sends until it pauses for 100 ms.
std::string ReadRequest(Socket fd) {
  std::string text;
  char buffer[4096];
  for (int n; Readable(fd, 100) && (n = recv(fd, buffer, sizeof(buffer), 0)) > 0;) {
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

std::string HttpAnswer(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(SocketFaultsTest, EachBrokenConnectionGivesItsCodeOnBothExchanges) {
  const std::string body = "{\"status\":\"ok\",\"padding\":\"" + std::string(4000, 'p') + "\"}";
  const std::string answer = HttpAnswer(body);
  // Content-Length promises the whole body; only half of it is sent.
  const std::string half = answer.substr(0, answer.size() - body.size() / 2);
  // What the peer does once it has read the request (sends these bytes,
  // then resets or closes), the scheme, the code.
  struct Row {
    bool read_first;
    std::string bytes;
    bool reset;
    const char* scheme;
    uint32_t expected;
  } rows[] = {
      {false, "", false, "http", WS_ERROR_FAILED},
      {false, "", false, "https", WS_ERROR_TLS_FAILED},
      {true, half, true, "http", WS_ERROR_FAILED},
      {true, half, false, "http", WS_ERROR_FAILED},
      {true, "garbage\r\n\r\n", false, "http", WS_ERROR_FAILED},
  };
  for (const Row& row : rows) {
    const std::string name = row.scheme + std::to_string(&row - rows);
    std::atomic<int> requests{0};
    RawPeer peer([&](Socket fd, RawPeer&) {
      if (row.read_first && !ReadRequest(fd).empty()) ++requests;
      SendAll(fd, row.bytes);
      linger hard{1, 0};  // close with a reset
      if (row.reset) {
        setsockopt(fd, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof(hard));
      }
    });
    WebService ws;
    ASSERT_EQ(ws.Initialize(), WS_SUCCESS);
    std::string response;
    EXPECT_EQ(ws.RequestJsonRpc(peer.Url(row.scheme), "{}", response).GetValue(), row.expected)
        << name;
    // What arrived before the break is passed on unchanged.
    EXPECT_EQ(body.compare(0, response.size(), response), 0) << name;
    response = "stale";
    EXPECT_EQ(ws.RequestRestRpc(peer.Url(row.scheme), "q", response).GetValue(), row.expected)
        << name;
    EXPECT_EQ(response, "") << name;
    EXPECT_EQ(peer.connections(), 2) << name;
    EXPECT_EQ(requests, row.read_first ? 2 : 0) << name;
  }
}

// The one test that waits for the real 10 s time limit of a whole
// exchange: a peer that sends its answer at once but for the last 12 bytes,
// which follow one a second (JSON POST), and one that never answers (REST
// exchange), side by side so that the suite waits only once. A limit past
// 12 s would let the first answer through.
TEST(SocketFaultsTest, SlowTimeLimitEndsTrickleAndSilentPeers) {
  const std::string body = "{\"status\":\"ok\"}", answer = HttpAnswer(body);
  RawPeer trickling([&](Socket fd, RawPeer& peer) {
    ReadRequest(fd);
    const size_t at_once = answer.size() - 12;
    SendAll(fd, answer.substr(0, at_once));
    for (size_t i = at_once; i < answer.size() && !peer.stopping(); ++i) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      if (!SendAll(fd, answer.substr(i, 1))) break;
    }
  });
  RawPeer silent([](Socket fd, RawPeer& peer) {
    for (ReadRequest(fd); !peer.stopping();) std::this_thread::sleep_for(std::chrono::seconds(1));
  });
  std::string rest_response = "untouched";
  ErrorCode rest_code;
  std::thread rest([&] {
    WebService ws;
    if (ws.Initialize() == WS_SUCCESS) {
      rest_code = ws.RequestRestRpc(silent.Url("http"), "", rest_response);
    }
  });
  WebService ws;
  ASSERT_EQ(ws.Initialize(), WS_SUCCESS);
  std::string response;
  EXPECT_EQ(ws.RequestJsonRpc(trickling.Url("http"), "{}", response).GetValue(),
            WS_ERROR_TIMED_OUT);
  EXPECT_LT(response.size(), body.size());  // what came before the end is passed on
  EXPECT_EQ(body.compare(0, response.size(), response), 0);
  rest.join();
  EXPECT_EQ(rest_code.GetValue(), WS_ERROR_TIMED_OUT);
  EXPECT_EQ(rest_response, "");
}

}  // namespace
}  // namespace vanta
