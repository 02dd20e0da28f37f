// The reference dispatcher: its book of issued tokens, its framing, and the
// dispatcher in-process meeting slow, oversized, malformed and greedy
// requests on the loopback addresses.
#include <gtest/gtest.h>
#include <picojson.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dispatcher/Framing.h"
#include "dispatcher/Server.h"
#include "dispatcher/System.h"
#include "messages/SelectiveParse.h"
#include "service/Codes.h"
#include "vanta/WebService.h"

namespace vanta {
namespace dispatcher {
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

// A whole request for action with this body; the connection closes after
// its answer. headers go before its Content-Length.
std::string Post(const std::string& action, const std::string& body,
                 const std::string& headers = "") {
  return "POST /dispatcher/" + action + " HTTP/1.1\r\nConnection: close\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
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
  std::vector<std::string> access;  // all from token 1, neither the first nor the newest
  for (size_t i = 0; i <= kept; ++i) {
    picojson::value granted;
    ASSERT_EQ(Ask(book, "request_accesstoken", AccessRequest(tokens[1], keys[1]), &granted),
              WS_SUCCESS);
    access.push_back(granted.get("access_token").to_str());
  }
  picojson::value service;
  EXPECT_EQ(Ask(book, "request_gameservice", GameRequest(access[1]), &service), WS_SUCCESS);
  EXPECT_EQ(service.get("gameid").to_str(), "g1");
  struct Row {
    const char* action;
    std::string body;
    uint32_t code;
  };
  const Row rows[] = {
      // The oldest of each table is gone.
      {"request_accesstoken", AccessRequest(tokens[0], keys[0]), kNotIssued},
      {"request_gameservice", GameRequest(access[0]), kNotIssued},
      {"request_accesstoken", AccessRequest(tokens[1], "other"), kNotIssued},
      {"request_gameservice", GameRequest(tokens[1]), kNotIssued},
      {"request_gameservice", GameRequest(access[1], "\"1\""), kMalformed},
      {"request_accesstoken", TokenRequest("g"), kMalformed},
      {"request_token", R"({"action":"request_token","client_version":1e999})", kMalformed},
      {"request_token", std::string(100000, '['), kMalformed},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Ask(book, row.action, row.body), row.code) << row.body.substr(0, 80);
  }
}

// Where a request ends, and what is refused before any handler sees it.
TEST(FramingTest, FramesByContentLengthAndRefusesWhatCouldBeReadTwoWays) {
  const std::string line = "POST /d/x HTTP/1.1\r\n";  // 20 bytes
  // The frame as text: its kind, its size (0: not known yet) and whether it
  // wants a 100 Continue; or the status and reason of a refusal.
  auto frame_of = [](const std::string& input) {
    const RequestFrame frame = FrameRequest(input, Limits());
    if (frame.kind == RequestFrame::Kind::kRefused) {
      return std::to_string(frame.status) + " " + frame.reason;
    }
    return (frame.kind == RequestFrame::Kind::kWhole ? "whole " : "incomplete ") +
           std::to_string(frame.size) + (frame.wants_continue ? " continue" : "") + ".";
  };
  // Each row: the input, and how the text of its frame starts.
  const std::pair<std::string, std::string> rows[] = {
      {line + "Content-Length: 3\r\n\r\nabcGET", "whole 44."},
      {line + "Content-Length:  0003 \r\n\r\nab", "incomplete 49."},
      {line + "Expect: 100-Continue\r\nContent-Length: 3\r\n\r\n", "incomplete 66 continue."},
      {line + "Host: a", "incomplete 0."},
      {line + "Content-Length : 3\r\n\r\nabc", "400 a header name holds a character other"},
      {line + "X: a\r\n Content-Length: 3\r\n\r\nabc", "400 a header line continues"},
      {line + "Content-Length: 3, 3\r\n\r\nabc", "400 Content-Length 3, 3 is not a number"},
      {line + "Content-Length: 3\r\nContent-Length: 4\r\n\r\nabc", "400 more than one"},
      {line + "Content-Length\r\n\r\n", "400 a header line has no colon"},
      {line + "X: a\rb\r\n\r\n", "400 a header line holds a control byte"},
      {line + "X: a\n\r\n", "400 a line of the request ends without CR LF"},
      {line + "Transfer-Encoding: chunked\r\n\r\n", "411 a body must come with a Content-Length"},
      {line + "Content-Length: 65537\r\n\r\n", "413 a body of 65537 bytes is over"},
      {line + "Content-Length: 99999999999999999999\r\n\r\n", "413 a body of 9999"},
      {line + "Content-Encoding: gzip\r\n\r\n", "415 a body must not be encoded"},
      {line + "X: " + std::string(17000, 'x'), "431 the request line and headers are over 16384"},
  };
  for (const auto& [input, frame] : rows) {
    EXPECT_EQ(frame_of(input).substr(0, frame.size()), frame) << input.substr(0, 80);
  }
}

// A client connection of a test to 127.0.0.1, closed when it goes.
class Client {
 public:
  explicit Client(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sock_ = StartSockets() ? OpenSocket(AF_INET, SOCK_STREAM) : kNoSocket;
    if (sock_ == kNoSocket) return;
    connect(sock_, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  }
  ~Client() {
    if (sock_ != kNoSocket) CloseSocket(sock_);
  }

  void Send(const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
      const long count = SendSome(sock_, bytes.data() + sent, bytes.size() - sent);
      if (count < 0 && !IsWouldBlock(LastSocketError())) return;
      if (count < 0 && !Wait(POLLOUT, 10000)) return;
      sent += count > 0 ? static_cast<size_t>(count) : 0;
    }
  }
  // Whether the dispatcher has sent something (or closed) within ms.
  bool Wait(short events, int ms) {
    PollEntry entry{sock_, events, 0};
    return PollSockets(&entry, 1, ms) == 1;
  }
  // All that the dispatcher sends until it closes (or 10 s pass).
  std::string ReadAll() {
    std::string text;
    char buffer[4096];
    while (Wait(POLLIN, 10000)) {
      const long count = ReceiveSome(sock_, buffer, sizeof(buffer));
      if (count <= 0 && !(count < 0 && IsWouldBlock(LastSocketError()))) break;
      if (count > 0) text.append(buffer, static_cast<size_t>(count));
    }
    return text;
  }

 private:
  Socket sock_ = kNoSocket;
};

class DispatcherServerTest : public ::testing::Test {
 protected:
  // Serves on ephemeral ports of the loopback addresses.
  void Start(const Limits& limits) {
    log_ = std::tmpfile();
    ASSERT_NE(log_, nullptr);
    server_ = std::make_unique<DispatcherServer>(&book_, &monitor_, &faults_, log_, limits);
    ServerAddresses addresses;
    addresses.dispatcher_port = addresses.monitor_port = 0;
    std::string error;
    ASSERT_EQ(server_->Bind(addresses, &error), Bound::Failure::kNone) << error;
    ASSERT_TRUE(server_->Start());
  }
  void TearDown() override {
    if (server_ != nullptr) server_->Stop();
    if (log_ != nullptr) std::fclose(log_);
  }

  std::unique_ptr<Client> Connect() {
    auto client = std::make_unique<Client>(server_->dispatcher_port());
    EXPECT_TRUE(client->Wait(POLLOUT, 10000)) << "not connected within 10 s";
    return client;
  }

  DispatcherBook book_{GameService()};
  MonitorBook monitor_;
  FaultPlan faults_{DispatcherActions()};
  std::FILE* log_ = nullptr;
  std::unique_ptr<DispatcherServer> server_;
};

// What the dispatcher answers to each request on a connection of its own:
// one answer, whole (never a multipart 206 for a Range), or a refusal;
// never a second request smuggled in a body. Its log shows what clients
// send in its printable form, and keys and tokens shortened, in requests
// and answers.
TEST_F(DispatcherServerTest, AnswersEachRequestOnceWholeOrRefusesItAndLogsItPrintable) {
  Limits limits;
  limits.request_deadline = std::chrono::milliseconds(200);
  Start(limits);
  const std::string head = "POST /dispatcher/request_token HTTP/1.1\r\nConnection: close\r\n";
  // A whole request hidden in a body.
  const std::string hidden = Post("request_token", TokenRequest("h"));
  const std::string token = "T0K3Nabcdefghijklmnopqrstuvwxyz", key = "K3Yzzzzzzzzzzzzzzzzzzzz";
  book_.Issue(token, key);
  struct Row {
    std::string request;
    bool trickled;  // a byte at a time, never ending
    std::string status_line;
  };
  const Row rows[] = {
      {Post("request_token", TokenRequest(std::string(60000, 'g')), "Range: bytes=0-1,3-4\r\n"),
       false, "HTTP/1.1 200 OK\r\n"},
      {head + "Content-Length : " + std::to_string(hidden.size()) + "\r\n\r\n" + hidden, false,
       "HTTP/1.1 400 Bad Request\r\n"},
      {head + "X: " + std::string(1000, 'x'), true, "HTTP/1.1 408 Request Timeout\r\n"},
      {Post("x\x1b[2J\xC2\x9B", ""), false, "HTTP/1.1 404 Not Found\r\n"},
      {Post("request_accesstoken", AccessRequest(token, key)), false, "HTTP/1.1 200 OK\r\n"},
  };
  for (const Row& row : rows) {
    std::unique_ptr<Client> client = Connect();
    if (!row.trickled) {
      client->Send(row.request);
    } else {
      // 20 ms apart until the dispatcher answers, for 10 s at most: it has
      // to answer while bytes still come.
      size_t sent = 0;
      while (sent < 500 && !client->Wait(POLLIN, 20)) {
        client->Send(row.request.substr(sent++ % row.request.size(), 1));
      }
      EXPECT_LT(sent, 500u) << "no answer while the request trickled";
    }
    const std::string answer = client->ReadAll();
    EXPECT_EQ(answer.substr(0, row.status_line.size()), row.status_line) << answer.substr(0, 300);
    EXPECT_EQ(answer.find("HTTP/1.1", 1), std::string::npos) << "a second answer: " << answer;
  }
  std::fflush(log_);
  std::rewind(log_);
  std::string log;
  for (int c; (c = std::fgetc(log_)) != EOF;) log += static_cast<char>(c);
  EXPECT_NE(log.find("x\\x1B[2J\\xC2\\x9B"), std::string::npos) << log;
  EXPECT_NE(log.find("T0K3... (31 bytes)"), std::string::npos) << log;
  EXPECT_NE(log.find("K3Yz... (23 bytes)"), std::string::npos) << log;
  EXPECT_NE(log.find("... (40 bytes)"), std::string::npos) << "the access token:\n" << log;
  for (size_t i = 0; i < log.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(log[i]);
    ASSERT_TRUE((byte >= 0x20 && byte != 0x7F) || byte == '\n') << "byte " << i << " in " << log;
  }
}

// Unfinished requests hold no serving thread: twice as many stalled ones as
// there are threads hold up no one. They share one budget of bytes, given
// back as they end; past the connection cap the connection waiting longest
// goes.
TEST_F(DispatcherServerTest, UnfinishedRequestsHoldUpNoOneAndAreBounded) {
  Limits limits;
  limits.unfinished_bytes = 100000;
  limits.max_connections = 8;
  limits.serving_threads = 2;
  Start(limits);
  std::vector<std::unique_ptr<Client>> clients;
  for (size_t i = 0; i < 2 * limits.serving_threads; ++i) {
    clients.push_back(Connect());
    clients.back()->Send("POST /dispatcher/request_token HTTP/1.1\r\nX: ");
  }
  const std::string request = Post("request_token", TokenRequest(std::string(60000, 'g')));
  std::unique_ptr<Client> holder = Connect();
  holder->Send(request.substr(0, 1000));
  ASSERT_FALSE(holder->Wait(POLLIN, 200)) << holder->ReadAll();
  // Another body, while the held one takes the budget and once it is gone.
  for (const char* status_line : {"HTTP/1.1 503 Service Unavailable\r\n", "HTTP/1.1 200 OK\r\n"}) {
    std::unique_ptr<Client> client = Connect();
    client->Send(request);
    EXPECT_EQ(client->ReadAll().rfind(status_line, 0), 0u) << status_line;
    holder.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }

  clients.clear();
  for (size_t i = 0; i <= limits.max_connections; ++i) {
    clients.push_back(Connect());
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // Well before the idle connections' own time limit.
  ASSERT_TRUE(clients.front()->Wait(POLLIN, 2000)) << "the oldest was not dropped";
  EXPECT_EQ(clients.front()->ReadAll(), "");
  EXPECT_FALSE(clients.back()->Wait(POLLIN, 100)) << "the newest was dropped";
}

}  // namespace
}  // namespace dispatcher
}  // namespace vanta
