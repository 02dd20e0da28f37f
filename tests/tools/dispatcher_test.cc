// The reference dispatcher: its book of issued tokens, and the dispatcher
// in-process meeting slow, oversized and unframed requests on 127.0.0.1.
#include "tools/dispatcher_listener.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <picojson.h>
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

#include "messages/Kept.h"
#include "service/Codes.h"
#include "tools/dispatcher_book.h"
#include "tools/dispatcher_server.h"
#include "tools/fault_plan.h"
#include "vanta/WebService.h"

namespace vanta {
namespace tools {
namespace {

// A request to the dispatcher for a token, with this game identifier.
std::string TokenRequest(const std::string& gameid) {
  return R"({"action":"request_token","client_version":1,"gameid":")" + gameid +
         R"(","try_count":1})";
}

const uint32_t kMalformed = WS_ERROR_SERVER_ERROR;           // result 1
const uint32_t kNotIssued = WS_ERROR_SERVER_RESULT_2_5_6_7;  // result 2

std::string AccessRequest(const std::string& token, const std::string& key) {
  return R"({"action":"request_accesstoken","client_version":1,"token":")" + token +
         R"(","try_count":1,"zuc_key_value":")" + key + R"("})";
}

std::string GameRequest(const std::string& access_token, const std::string& io_touch = "1") {
  return R"({"access_token":")" + access_token +
         R"(","action":"request_gameservice","audio_profile":2,"client_version":1,"env":{},)"
         R"("io_gamepad":1,"io_keyboard":1,"io_mouse":1,"io_sensor":0,"io_touch":)" +
         io_touch + R"(,"try_count":1,"video_profile":0,"yuv_itu_r_bt":709})";
}

// The answer's code as the library reads it, and its members.
uint32_t Ask(DispatcherBook& book, const char* action, const std::string& body,
             picojson::value* members = nullptr) {
  const std::string answer = book.Answer(action, body);
  json::Envelope envelope;
  if (members != nullptr) picojson::parse(*members, answer);
  return CodeOf(json::CheckEnvelope(answer, envelope)).GetValue();
}

// Each table keeps the newest kKeptIssued entries; an older token or access
// token is refused as not issued, and each access token keeps the game
// identifier of the token it came from. Malformed requests are refused.
TEST(DispatcherBookTest, AnswersOnlyWhatItIssuedAndKeepsTheNewest) {
  DispatcherBook book{GameService()};
  const size_t kept = DispatcherBook::kKeptIssued;
  std::vector<std::string> tokens, keys;
  for (size_t i = 0; i <= kept; ++i) {
    picojson::value issued;
    ASSERT_EQ(Ask(book, "request_token", TokenRequest("g" + std::to_string(i)), &issued),
              WS_SUCCESS);
    tokens.push_back(issued.get("token").to_str());
    keys.push_back(issued.get("zuc_key_value").to_str());
  }
  std::vector<std::string> access;  // from tokens 1, kept, ..., kept, 2
  for (size_t i = 0; i <= kept; ++i) {
    const size_t from = i == 0 ? 1 : i == kept ? 2 : kept;
    picojson::value granted;
    ASSERT_EQ(Ask(book, "request_accesstoken", AccessRequest(tokens[from], keys[from]), &granted),
              WS_SUCCESS)
        << "token " << from;
    access.push_back(granted.get("access_token").to_str());
  }
  EXPECT_EQ(Ask(book, "request_accesstoken", AccessRequest(tokens[0], keys[0])), kNotIssued)
      << "the oldest token should be gone";
  const std::tuple<std::string, uint32_t, std::string> rows[] = {
      {access[0], kNotIssued, ""},  // the oldest access token is gone
      {access[1], WS_SUCCESS, "g" + std::to_string(kept)},
      {access[kept], WS_SUCCESS, "g2"},
  };
  for (const auto& [access_token, expected, gameid] : rows) {
    picojson::value service;
    EXPECT_EQ(Ask(book, "request_gameservice", GameRequest(access_token), &service), expected);
    if (expected == WS_SUCCESS) {
      EXPECT_EQ(service.get("gameid").to_str(), gameid);
    }
  }
  // Requests that are malformed, or name what was not issued with them.
  const std::tuple<const char*, std::string, uint32_t> refused[] = {
      {"request_accesstoken", AccessRequest(tokens[1], "other"), kNotIssued},
      {"request_gameservice", GameRequest(tokens[1], "1"), kNotIssued},
      {"request_gameservice", GameRequest(access[1], "\"1\""), kMalformed},
      {"request_token", "not json", kMalformed},
      {"request_token", R"({"action":"request_token","client_version":1,"try_count":1})",
       kMalformed},
      {"request_accesstoken", TokenRequest("g"), kMalformed},
      {"request_token", R"({"action":"request_token","client_version":1e999})", kMalformed},
      {"request_token", std::string(1000, '['), kMalformed},
  };
  for (const auto& [action, body, expected] : refused) {
    EXPECT_EQ(Ask(book, action, body), expected) << body;
  }
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

  // The lines of the log; one of 4 * kLoggedBytes or more comes in pieces.
  std::vector<std::string> LogLines() {
    std::fflush(log_);
    std::rewind(log_);
    std::vector<std::string> lines;
    for (char line[4 * kLoggedBytes]; std::fgets(line, sizeof(line), log_) != nullptr;) {
      lines.push_back(line);
    }
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

  // One short line for each, the long request's cut.
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), std::size(rows));
  EXPECT_NE(lines[0].find("... (" + std::to_string(long_request.size()) + " bytes) -> 200 "),
            std::string::npos)
      << lines[0];
}

}  // namespace
}  // namespace tools
}  // namespace vanta
