// Connections that break, on both exchanges: an answer cut short, TLS
// spoken to a server of plain HTTP, and the time limit of a whole exchange
// against a peer that trickles its answer or never answers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tests/support/LocalPeer.h"
#include "vanta/WebService.h"

namespace vanta {
namespace {

// Serves body (its length announced) in the pieces that send(offset)
// tells, a piece per call, the last one false; then the connection closes.
void Serve(testing::LocalPeer& peer, const std::string& path, const std::string& body,
           std::function<bool(size_t offset, httplib::DataSink& sink)> send) {
  peer.SetHandler(path, [=](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(
        body.size(), "application/json",
        [=](size_t offset, size_t, httplib::DataSink& sink) { return send(offset, sink); });
  });
}

TEST(SocketFaultsTest, BrokenConnectionsGiveTheirCodeOnBothExchanges) {
  testing::LocalPeer peer;
  const std::string body = R"({"status":"ok","padding":")" + std::string(4000, 'p') + "\"}";
  Serve(peer, "/half", body, [&](size_t, httplib::DataSink& sink) {
    sink.write(body.data(), body.size() / 2);
    return false;
  });
  struct Row {
    std::string url;
    uint32_t code;
  };
  const Row rows[] = {
      {peer.Url("/half"), WS_ERROR_FAILED},  // half of the body its length promises
      {"https" + peer.Url("/half").substr(4), WS_ERROR_TLS_FAILED},
  };
  for (const Row& row : rows) {
    WebService ws;
    ASSERT_EQ(ws.Initialize(), WS_SUCCESS);
    std::string response;
    EXPECT_EQ(ws.RequestJsonRpc(row.url, "{}", response).GetValue(), row.code) << row.url;
    // What arrived before the break is passed on unchanged.
    EXPECT_EQ(response, row.code == WS_ERROR_FAILED ? body.substr(0, body.size() / 2) : "")
        << row.url;
    response = "stale";
    EXPECT_EQ(ws.RequestRestRpc(row.url, "q", response).GetValue(), row.code) << row.url;
    EXPECT_EQ(response, "") << row.url;
  }
  EXPECT_EQ(peer.RequestsTo("/half").size(), 2u);  // none of TLS
}

// The one test that waits for the real 10 s time limit of a whole
// exchange: a peer that sends its answer at once but for the last 12 bytes,
// which follow one a second (JSON POST), and one that never answers (REST
// exchange), side by side so that the suite waits only once. A limit past
// 12 s would let the first answer through.
TEST(SocketFaultsTest, SlowTimeLimitEndsTrickleAndSilentPeers) {
  std::atomic<bool> done{false};
  testing::LocalPeer peer;
  const std::string body = R"({"status":"ok","padding":"12345678"})";
  Serve(peer, "/trickle", body, [&](size_t offset, httplib::DataSink& sink) {
    const size_t at_once = body.size() - 12;
    if (offset > 0) std::this_thread::sleep_for(std::chrono::seconds(1));
    return !done && sink.write(body.data() + offset, offset == 0 ? at_once : 1);
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
  WebService ws;
  ASSERT_EQ(ws.Initialize(), WS_SUCCESS);
  std::string response;
  EXPECT_EQ(ws.RequestJsonRpc(peer.Url("/trickle"), "{}", response).GetValue(), WS_ERROR_TIMED_OUT);
  EXPECT_LT(response.size(), body.size());  // what came before the end is passed on
  EXPECT_EQ(body.compare(0, response.size(), response), 0);
  rest.join();
  EXPECT_EQ(rest_code.GetValue(), WS_ERROR_TIMED_OUT);
  EXPECT_EQ(rest_response, "");
  done = true;
}

}  // namespace
}  // namespace vanta
