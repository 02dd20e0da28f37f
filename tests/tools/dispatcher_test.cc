// The listener under the reference dispatcher: how it frames requests, and
// the dispatcher in-process meeting slow and oversized requests on
// 127.0.0.1.
#include "tools/dispatcher_listener.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tools/dispatcher_book.h"
#include "tools/dispatcher_server.h"
#include "tools/fault_plan.h"

namespace vanta {
namespace tools {
namespace {

using Kind = RequestFrame::Kind;

TEST(FrameRequestTest, TakesWholeRequestsAndRefusesWhatItWillNotRead) {
  ListenerLimits limits;
  limits.max_header_bytes = 100;
  limits.max_body_bytes = 10;
  const std::string post = "POST /d HTTP/1.1\r\n";  // 18 bytes
  const std::string expect = post + "Expect: 100-Continue\r\nContent-Length: 2\r\n";
  // Each row: the input, what it is, and its size (whole or incomplete
  // requests, 0 while the size is unknown) or status (refused ones).
  const std::tuple<std::string, Kind, size_t> rows[] = {
      {"GET / HTTP/1.1\r\nHost: a\r\n", Kind::kIncomplete, 0},
      {"GET / HTTP/1.1\r\nHost: a\r\n\r\nGET / HT", Kind::kWhole, 27},
      {post + "content-length: \t3 \r\n\r\nab", Kind::kIncomplete, 18 + 23 + 3},
      {post + "Content-Length: 3\r\n\r\nabcPOST", Kind::kWhole, 18 + 21 + 3},
      {post + "Content-Length: 10\r\n\r\n", Kind::kIncomplete, 18 + 22 + 10},
      {post + "Content-Length: 11\r\n\r\n", Kind::kRefused, 413},
      {post + "Content-Length: 00000000000000000000011\r\n\r\n", Kind::kRefused, 413},
      {post + "Content-Length: 99999999999999999999999\r\n\r\n", Kind::kRefused, 413},
      {post + "Content-Length: 1\r\nContent-Length: 1\r\n\r\nx", Kind::kRefused, 400},
      {post + "Content-Length: -1\r\n\r\n", Kind::kRefused, 400},
      {post + "Transfer-Encoding: chunked\r\n\r\n", Kind::kRefused, 411},
      {post + "Content-Encoding: gzip\r\nContent-Length: 1\r\n\r\nx", Kind::kRefused, 415},
      {post + "Content-Length: 1\n\r\nx", Kind::kRefused, 400},  // a bare LF
      {post + std::string(81, 'x'), Kind::kIncomplete, 0},       // 99 bytes
      {post + std::string(82, 'x'), Kind::kRefused, 431},
      {expect + "\r\n", Kind::kIncomplete, 18 + 43 + 2},
      {expect + "\r\nab", Kind::kWhole, 18 + 43 + 2},
  };
  for (const auto& [input, kind, value] : rows) {
    const RequestFrame frame = FrameRequest(input, limits);
    EXPECT_EQ(frame.kind, kind) << input;
    EXPECT_EQ(kind == Kind::kRefused ? size_t(frame.status) : frame.size, value) << input;
    // Only a head that asks for it and has no body yet wants "100 Continue".
    EXPECT_EQ(frame.wants_continue, input == expect + "\r\n") << input;
  }
}

// A request to the dispatcher for a token, with this game identifier.
std::string TokenRequest(const std::string& gameid) {
  return R"({"action":"request_token","client_version":1,"gameid":")" + gameid +
         R"(","try_count":1})";
}

class DispatcherListenerTest : public ::testing::Test {
 protected:
  void Start(const ListenerLimits& limits) {
    log_ = std::tmpfile();
    ASSERT_NE(log_, nullptr);
    server_ = std::make_unique<DispatcherServer>(&book_, &monitor_, &faults_, log_, limits);
    ServerAddresses addresses;
    addresses.dispatcher_port = addresses.monitor_port = 0;
    std::string error;
    ASSERT_TRUE(server_->Bind(addresses, &error)) << error;
    server_->Start();
  }
  void TearDown() override {
    if (server_ != nullptr) server_->Stop();
    for (int fd : sockets_) close(fd);
    if (log_ != nullptr) std::fclose(log_);
  }

  // A connection to the dispatcher whose reads give up after 10 s; closed
  // by TearDown.
  int Connect() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockets_.push_back(fd);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(server_->dispatcher_port()));
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    return fd;
  }

  // All that the dispatcher sends until it closes (or 10 s pass).
  static std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t count; (count = recv(fd, buffer, sizeof(buffer), 0)) > 0;) {
      text.append(buffer, static_cast<size_t>(count));
    }
    return text;
  }

  std::vector<std::string> LogLines() {
    std::fflush(log_);
    std::rewind(log_);
    std::vector<std::string> lines(1);
    for (int c; (c = std::fgetc(log_)) != EOF;) {
      if (c == '\n') {
        lines.emplace_back();
      } else {
        lines.back().push_back(static_cast<char>(c));
      }
    }
    lines.pop_back();
    return lines;
  }

  DispatcherBook book_{GameService()};
  MonitorBook monitor_;
  FaultPlan faults_{DispatcherActions()};
  std::FILE* log_ = nullptr;
  std::unique_ptr<DispatcherServer> server_;
  std::vector<int> sockets_;
};

// More trickling connections than there are serving threads, each sending a
// byte now and then of a request that never ends: a request on another
// connection is still answered, and the dispatcher stops with them open.
TEST_F(DispatcherListenerTest, TricklingClientsHoldUpNoOne) {
  ListenerLimits limits;
  limits.request_deadline = std::chrono::minutes(10);  // none is cut off here
  Start(limits);
  std::vector<int> tricklers;
  for (size_t i = 0; i < 2 * limits.serving_threads; ++i) {
    tricklers.push_back(Connect());
    ASSERT_EQ(
        send(tricklers.back(), "POST /dispatcher/request_token HTTP/1.1\r\nX: ", 44, MSG_NOSIGNAL),
        44);
  }
  std::atomic<bool> answered{false};
  std::thread trickle([&] {
    for (int i = 0; i < 400 && !answered; ++i) {  // 20 s at most
      for (int fd : tricklers) send(fd, "x", 1, MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  httplib::Client client("127.0.0.1", server_->dispatcher_port());
  client.set_connection_timeout(10);
  client.set_read_timeout(10);
  httplib::Result result =
      client.Post("/dispatcher/request_token", TokenRequest("g"), "application/json");
  answered = true;
  trickle.join();
  ASSERT_TRUE(result) << httplib::to_string(result.error());
  EXPECT_EQ(result->status, 200);
  EXPECT_NE(result->body.find(R"("status":"ok")"), std::string::npos) << result->body;
}

// What the dispatcher answers to each request on a connection of its own,
// and what its log shows of them.
TEST_F(DispatcherListenerTest, AnswersEachRequestWholeOrRefusesIt) {
  ListenerLimits limits;
  limits.request_deadline = std::chrono::milliseconds(200);
  Start(limits);
  const std::string head = "POST /dispatcher/request_token HTTP/1.1\r\nHost: t\r\n";
  const std::string long_request = TokenRequest(std::string(60000, 'g'));
  // request, whether it is trickled a byte at a time (and never ends), the
  // answer's status line
  const std::tuple<std::string, bool, std::string> rows[] = {
      {head + "Connection: close\r\nContent-Length: " + std::to_string(long_request.size()) +
           "\r\n\r\n" + long_request,
       false, "HTTP/1.1 200 OK\r\n"},
      {head + "Content-Length: 104857600\r\n\r\n" + std::string(100000, '{'), false,
       "HTTP/1.1 413 Payload Too Large\r\n"},
      {head + "Transfer-Encoding: chunked\r\n\r\n10\r\n", false,
       "HTTP/1.1 411 Length Required\r\n"},
      {head + "X: " + std::string(1000, 'x'), true, "HTTP/1.1 408 Request Timeout\r\n"},
  };
  for (const auto& [request, trickled, status_line] : rows) {
    const int fd = Connect();
    if (!trickled) {
      send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    } else {
      // 20 ms apart until the dispatcher answers, for 10 s at most: it has
      // to answer while bytes still come.
      pollfd answer{fd, POLLIN, 0};
      size_t sent = 0;
      while (sent < 500 && poll(&answer, 1, 20) == 0) {
        send(fd, &request[sent++ % request.size()], 1, MSG_NOSIGNAL);
      }
      EXPECT_LT(sent, 500u) << "no answer while the request trickled";
    }
    const std::string response = ReadAll(fd);
    EXPECT_EQ(response.substr(0, status_line.size()), status_line) << response.substr(0, 300);
  }

  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), std::size(rows));
  EXPECT_NE(lines[0].find("... (" + std::to_string(long_request.size()) + " bytes) -> 200 "),
            std::string::npos)
      << lines[0];
  for (const std::string& line : lines) EXPECT_LT(line.size(), 4 * kLoggedBytes) << line;
}

}  // namespace
}  // namespace tools
}  // namespace vanta
