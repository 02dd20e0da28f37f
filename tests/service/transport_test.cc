// The two exchanges as the peer sees them on the wire, the trust of the
// JSON POST over HTTPS (the built-in roots and nothing else), and the
// limits of size and time that end an exchange.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include "service/BuiltinRoots.h"
#include "service/WebServiceHttp.h"
#include "tests/support/LocalPeer.h"
#include "tests/support/TestEnv.h"
#include "vanta/WebService.h"

namespace vanta {
namespace {

using testing::LocalPeer;
using testing::Reply;

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ws_.Initialize(), WS_SUCCESS); }

  // A JSON POST of text, or a REST exchange with text as its query.
  ErrorCode Send(bool post, const std::string& url, const std::string& text,
                 std::string& response) {
    return post ? ws_.RequestJsonRpc(url, text, response) : ws_.RequestRestRpc(url, text, response);
  }

  // Made after the peers, so that none of them can take the port.
  static std::string ClosedUrl() {
    return "http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort());
  }

  // Declared first so that the client's kept-alive connection closes
  // before the peer stops.
  LocalPeer peer_;
  WebService ws_;
};

TEST_F(TransportTest, RequestsAsTheyArriveAndAnswersAsTheyLeave) {
  // Larger than one write chunk, so the answer arrives in pieces.
  std::string big_answer;
  for (int i = 0; big_answer.size() < 300000; ++i) big_answer += std::to_string(i) + ",";
  peer_.SetAnswer("/p", Reply(big_answer));
  // POST sends the text as its body; GET puts "?" and the text after the path.
  const std::pair<bool, std::string> rows[] = {{true, std::string("a\0b", 3)}, {false, ""}};
  for (const auto& [post, text] : rows) {
    std::string response = "stale";
    ASSERT_EQ(Send(post, peer_.Url("/p"), text, response), WS_SUCCESS);
    EXPECT_EQ(response, big_answer);
    const testing::RecordedRequest request = peer_.Requests().back();
    EXPECT_EQ(request.method + " " + request.target + " " + request.body,
              post ? "POST /p " + text : "GET /p?" + text + " ");
    // Left out: what libcurl adds by itself, and what the peer's server
    // records about the connection (REMOTE_ADDR and the like).
    std::string ours;
    for (const auto& [name, value] : request.headers) {
      if (name != "Host" && name != "Content-Length" && name.find('_') == std::string::npos) {
        ours += name + ": " + value + "|";
      }
    }
    EXPECT_EQ(ours,
              "Accept: application/json|" + std::string(post ? "" : "Connection: Keep-Alive|") +
                  "Content-Type: application/json; charset: utf-8|User-Agent: zarerozevoz/0.0.1|")
        << text;
  }
}

// A successful REST exchange keeps its connection; a failed one, and
// Terminate, close it. A refused second Initialize leaves it open.
TEST_F(TransportTest, RestConnectionLivesUntilAnExchangeFailsOrTerminate) {
  peer_.SetAnswer("/ok", Reply("fine"));
  enum Before { kNothing, kInitializeAgain, kTerminateAndInitialize };
  struct Step {
    Before before;
    std::string path;
    uint32_t code;
    bool same_connection;  // as the step before
  };
  const Step steps[] = {
      {kNothing, "/ok", WS_SUCCESS, false},
      {kInitializeAgain, "/ok", WS_SUCCESS, true},
      {kNothing, "/missing", WS_ERROR_SERVER_ERROR, true},
      {kNothing, "/ok", WS_SUCCESS, false},
      {kTerminateAndInitialize, "/ok", WS_SUCCESS, false},
      {kNothing, "/ok", WS_SUCCESS, true},
  };
  int last_port = -1;
  for (const auto& [before, path, code, same_connection] : steps) {
    if (before == kInitializeAgain) {
      EXPECT_EQ(ws_.Initialize(), WS_ERROR_ALREADY_INITIALIZED);
    } else if (before == kTerminateAndInitialize) {
      ws_.Terminate();
      ASSERT_EQ(ws_.Initialize(), WS_SUCCESS);
    }
    std::string response = "stale";
    EXPECT_EQ(ws_.RequestRestRpc(peer_.Url(path), "", response).GetValue(), code) << path;
    EXPECT_EQ(response, code == WS_SUCCESS ? "fine" : "") << path;
    EXPECT_EQ(peer_.Requests().back().remote_port == last_port, same_connection) << path;
    last_port = peer_.Requests().back().remote_port;
  }
}

TEST_F(TransportTest, FailuresAndRedirectsOfBothExchanges) {
  LocalPeer https_peer(true);
  https_peer.SetAnswer("/j", Reply("{}"));
  https_peer.SetAnswer("/to-http", Reply("", 307, peer_.Url("/final")));
  const std::string closed = ClosedUrl();
  peer_.SetAnswer("/moved", Reply("", 302, "/final"));
  peer_.SetAnswer("/to-ftp", Reply("", 302, "ftp" + closed.substr(4) + "/"));
  peer_.SetAnswer("/final", Reply("arrived"));
  // Each row: the address, its code without and with the https peer's own
  // certificate among the trusted roots of JSON POSTs.
  const std::tuple<std::string, uint32_t, uint32_t> rows[] = {
      {peer_.Url("/moved"), WS_SUCCESS, WS_SUCCESS},
      {peer_.Url("/to-ftp"), WS_ERROR_FAILED, WS_ERROR_FAILED},
      {https_peer.Url("/j"), WS_ERROR_TLS_FAILED, WS_SUCCESS},
      {https_peer.Url("/to-http"), WS_ERROR_TLS_FAILED, WS_ERROR_FAILED},
      {"HTTPS" + https_peer.Url("/j").substr(5), WS_ERROR_TLS_FAILED, WS_ERROR_TLS_FAILED},
      {"", WS_ERROR_URL_MALFORMED, WS_ERROR_URL_MALFORMED},
  };
  testing::TestEnv env;
  for (bool trusted : {false, true}) {
    env.trusted_roots_pem =
        trusted ? std::optional<std::string>(https_peer.certificate_pem()) : std::nullopt;
    for (const auto& [url, plain, with_peer_root] : rows) {
      const uint32_t code = trusted ? with_peer_root : plain;
      std::string response = "stale";
      EXPECT_EQ(Send(true, url, "{}", response).GetValue(), code) << url << " " << trusted;
      EXPECT_EQ(response, code == WS_SUCCESS ? (url == peer_.Url("/moved") ? "arrived" : "{}") : "")
          << url;
      // The REST exchange never uses the built-in roots.
      if (!trusted) {
        EXPECT_EQ(Send(false, url, "{}", response).GetValue(), code) << url;
      }
    }
  }
  // Nothing went from https to http in clear text.
  EXPECT_EQ(peer_.RequestsTo("/final").size(), 3u);
  EXPECT_EQ(https_peer.RequestsTo("/j").size(), 1u);
}

// Answers past the size cap end the exchange before more than the cap is
// kept, whether their length is announced or they are chunked forever.
TEST_F(TransportTest, AnswersLargerThanTheCapAreRefused) {
  const size_t cap = WebServiceHttp::kMaxAnswerBytes;
  peer_.SetHandler("/endless", [&](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("application/json", [&](size_t, httplib::DataSink& sink) {
      const std::string chunk(65536, 'x');
      return sink.write(chunk.data(), chunk.size());
    });
  });
  peer_.SetAnswer("/over", Reply(std::string(cap + 1, 'x')));
  peer_.SetAnswer("/at", Reply(std::string(cap, 'x')));
  for (bool post : {true, false}) {
    for (const std::string path : {"/endless", "/over", "/at"}) {
      std::string response;
      const bool fits = path == "/at";
      EXPECT_EQ(Send(post, peer_.Url(path), "", response).GetValue(),
                fits ? WS_SUCCESS : WS_ERROR_FAILED)
          << path;
      EXPECT_EQ(response.empty(), !fits && !post) << path;  // a POST keeps what arrived
      EXPECT_EQ(std::min(response.size(), cap), fits ? cap : response.size()) << path;
      EXPECT_EQ(ws_.GetLastExchange().transport_error,
                fits ? "" : "answer larger than " + std::to_string(cap) + " bytes")
          << path;
    }
  }
}

// One trace line per exchange: method, address, HTTP status or libcurl's
// error text, sizes, time and the code with its name.
TEST_F(TransportTest, EveryExchangeIsTraced) {
  peer_.SetAnswer("/ok", Reply("12345"));
  peer_.SetAnswer("/error", Reply("", 500));
  const std::string closed = ClosedUrl();
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {peer_.Url("/ok"), ": HTTP 200; 4 bytes sent, 5 received, ", " ms: 0x00000000 WS_SUCCESS"},
      {peer_.Url("/error"), ": HTTP 500, ", " ms: 0xAC40C80F WS_ERROR_SERVER_ERROR"},
      {closed, ": Failed to connect to 127.0.0.1 port ", " ms: 0xAC40C80B WS_ERROR_CONNECT_FAILED"},
  };
  for (const auto& [url, start, end] : rows) {
    testing::TraceLog trace;
    std::string response;
    Send(true, url, "body", response);
    ASSERT_EQ(trace.Lines().size(), 1u) << url;
    const std::string line = trace.Lines()[0];
    EXPECT_EQ(line.rfind("POST " + url + start, 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - end.size()), end) << line;
  }
}

// The one test that waits for the real 10 s time limit of a whole
// exchange: a peer that sends its answer at once but for the last 12 bytes,
// which follow one a second (JSON POST), and one that never answers (REST
// exchange), side by side so that the suite waits only once. A limit past
// 12 s would let the first answer through.
TEST_F(TransportTest, SlowTimeLimitEndsTrickleAndSilentPeers) {
  std::atomic<bool> done{false};
  const std::string body = R"({"status":"ok","padding":"12345678"})";
  LocalPeer peer;  // stops before what its handlers use
  peer.SetHandler("/trickle", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(body.size(), "application/json",
                             [&](size_t offset, size_t, httplib::DataSink& sink) {
                               if (offset > 0) std::this_thread::sleep_for(std::chrono::seconds(1));
                               const size_t piece = offset == 0 ? body.size() - 12 : 1;
                               return !done && sink.write(body.data() + offset, piece);
                             });
  });
  peer.SetHandler("/silent", [&](const httplib::Request&, httplib::Response&) {
    testing::Eventually([&] { return done.load(); });
  });
  std::string rest_response = "untouched";
  ErrorCode rest_code;
  std::thread rest([&] {
    WebService ws;
    if (ws.Initialize() == WS_SUCCESS)
      rest_code = ws.RequestRestRpc(peer.Url("/silent"), "", rest_response);
  });
  std::string response;
  EXPECT_EQ(Send(true, peer.Url("/trickle"), "{}", response).GetValue(), WS_ERROR_TIMED_OUT);
  EXPECT_LT(response.size(), body.size());  // what came before the end is passed on
  EXPECT_EQ(body.compare(0, response.size(), response), 0);
  rest.join();
  EXPECT_EQ(rest_code.GetValue(), WS_ERROR_TIMED_OUT);
  EXPECT_EQ(rest_response, "");
  done = true;
}

// The roots the registration trusts are the project's data file, whole:
// no test exchange uses them, so a fault in the step that embeds them
// would otherwise show only against the real web API.
TEST(BuiltinRootsTest, ConstantIsTheDataFileByteForByte) {
  std::ifstream in(VANTA_BUILTIN_ROOTS_FILE, std::ios::binary);
  const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_EQ(file.size(), 5109u);
  EXPECT_EQ(std::string(kBuiltinRootsPem, kBuiltinRootsPemLength), file);
}

}  // namespace
}  // namespace vanta
