// The two exchanges as the peer sees them on the wire, and the trust of the
// JSON POST over HTTPS: the built-in roots and nothing else.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "service/BuiltinRoots.h"
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
  // Headers that libcurl adds by itself or that the peer's server records
  // about the connection are left out.
  const std::set<std::string> not_ours = {"Host",        "Content-Length", "REMOTE_ADDR",
                                          "REMOTE_PORT", "LOCAL_ADDR",     "LOCAL_PORT"};
  // POST sends the text as its body; GET puts "?" and the text after the path.
  const std::pair<bool, std::string> rows[] = {
      {true, ""}, {true, std::string("a\0b", 3)}, {false, ""}, {false, "a=1&b=x"}};
  for (const auto& [post, text] : rows) {
    std::string response = "stale";
    ASSERT_EQ(Send(post, peer_.Url("/p"), text, response), WS_SUCCESS);
    EXPECT_EQ(response, big_answer);
    const testing::RecordedRequest request = peer_.Requests().back();
    EXPECT_EQ(request.method + " " + request.target + " " + request.body,
              post ? "POST /p " + text : "GET /p?" + text + " ");
    std::string ours;
    for (const auto& [name, value] : request.headers) {
      if (not_ours.count(name) == 0) ours += name + ": " + value + "|";
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
  const std::string ok = peer_.Url("/ok");
  const std::string refused = "http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort());
  enum Before { kNothing, kInitializeAgain, kTerminateAndInitialize };
  struct Step {
    Before before;
    std::string url;
    uint32_t expected;
    bool same_connection_as_before;
  } steps[] = {
      {kNothing, ok, WS_SUCCESS, false},  // opens the connection
      {kInitializeAgain, ok, WS_SUCCESS, true},
      {kNothing, peer_.Url("/missing"), WS_ERROR_SERVER_ERROR, true},  // fails and closes it
      {kNothing, ok, WS_SUCCESS, false},
      {kNothing, refused, WS_ERROR_CONNECT_FAILED, false},  // reaches no peer
      {kNothing, ok, WS_SUCCESS, false},
      {kTerminateAndInitialize, ok, WS_SUCCESS, false},
      {kNothing, ok, WS_SUCCESS, true},
  };
  int last_port = -1;
  for (const Step& step : steps) {
    if (step.before == kInitializeAgain) {
      EXPECT_EQ(ws_.Initialize(), WS_ERROR_ALREADY_INITIALIZED);
    } else if (step.before == kTerminateAndInitialize) {
      ws_.Terminate();
      ASSERT_EQ(ws_.Initialize(), WS_SUCCESS);
    }
    const size_t before = peer_.Requests().size();
    std::string response = "stale";
    EXPECT_EQ(ws_.RequestRestRpc(step.url, "", response).GetValue(), step.expected) << step.url;
    EXPECT_EQ(response, step.expected == WS_SUCCESS ? "fine" : "") << step.url;
    const bool reached = step.expected != WS_ERROR_CONNECT_FAILED;
    ASSERT_EQ(peer_.Requests().size(), before + (reached ? 1 : 0)) << step.url;
    if (!reached) continue;
    const int port = peer_.Requests().back().client_port;
    EXPECT_EQ(port == last_port, step.same_connection_as_before) << step.url;
    last_port = port;
  }
}

TEST_F(TransportTest, FailuresOfBothExchanges) {
  LocalPeer https_peer(LocalPeer::Scheme::kHttps);
  https_peer.SetAnswer("/j", Reply("{}"));
  testing::Answer to_http = Reply("", 307);
  to_http.location = peer_.Url("/final");
  https_peer.SetAnswer("/to-http", to_http);
  peer_.SetAnswer("/missing", Reply("not here", 404));
  testing::Answer moved = Reply("", 302), to_ftp = Reply("", 302);
  moved.location = "/final";
  to_ftp.location = "ftp://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort()) + "/";
  peer_.SetAnswer("/moved", moved);
  peer_.SetAnswer("/to-ftp", to_ftp);
  peer_.SetAnswer("/final", Reply("arrived"));
  const std::string closed = "http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort());
  // Each row: the address, its code without and with the https peer's own
  // certificate among the trusted roots of JSON POSTs.
  const std::tuple<std::string, uint32_t, uint32_t> rows[] = {
      {peer_.Url("/missing"), WS_ERROR_SERVER_ERROR, WS_ERROR_SERVER_ERROR},
      {peer_.Url("/moved"), WS_SUCCESS, WS_SUCCESS},
      {peer_.Url("/to-ftp"), WS_ERROR_FAILED, WS_ERROR_FAILED},
      {closed, WS_ERROR_CONNECT_FAILED, WS_ERROR_CONNECT_FAILED},
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

// One trace line per exchange: method, address, HTTP status or libcurl's
// error text, sizes, time and the code with its name.
TEST_F(TransportTest, EveryExchangeIsTraced) {
  peer_.SetAnswer("/ok", Reply("12345"));
  peer_.SetAnswer("/error", Reply("", 500));
  const std::string closed = "http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort());
  const std::pair<std::string, std::string> rows[] = {
      {peer_.Url("/ok"), "POST " + peer_.Url("/ok") + ": HTTP 200; 4 bytes sent, 5 received, "},
      {peer_.Url("/error"), "POST " + peer_.Url("/error") + ": HTTP 500, "},
      {closed, "POST " + closed + ": Failed to connect to 127.0.0.1 port "},
  };
  const std::string endings[] = {" ms: 0x00000000 WS_SUCCESS",
                                 " ms: 0xAC40C80F WS_ERROR_SERVER_ERROR",
                                 " ms: 0xAC40C80B WS_ERROR_CONNECT_FAILED"};
  for (size_t i = 0; i < std::size(rows); ++i) {
    testing::TraceLog trace;
    std::string response;
    Send(true, rows[i].first, "body", response);
    ASSERT_EQ(trace.Lines().size(), 1u) << rows[i].first;
    const std::string line = trace.Lines()[0];
    EXPECT_EQ(line.rfind(rows[i].second, 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - endings[i].size()), endings[i]) << line;
  }
}

TEST(BuiltinRootsTest, ConstantIsTheDataFileByteForByte) {
  std::ifstream in(VANTA_BUILTIN_ROOTS_FILE, std::ios::binary);
  const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_EQ(file.size(), 5109u);
  EXPECT_EQ(std::string(kBuiltinRootsPem, kBuiltinRootsPemLength), file);
  EXPECT_EQ(kBuiltinRootsPem[kBuiltinRootsPemLength], '\0');
}

}  // namespace
}  // namespace vanta
