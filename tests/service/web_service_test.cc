#include "vanta/WebService.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/messages/AnswerOf.h"
#include "tests/support/LocalPeer.h"
#include "tests/support/TestWebApiHost.h"

namespace vanta {
namespace {

using testing::AnswerOf;
using testing::LocalPeer;

// The client port of the one request the peer received last.
int LastClientPort(const LocalPeer& peer) {
  std::vector<testing::RecordedRequest> requests = peer.Requests();
  return requests.empty() ? -1 : requests.back().client_port;
}

TEST(WebServiceTest, UninitialisedObjectRefusesAndSendsNothing) {
  LocalPeer peer;
  peer.SetAnswer("/r", AnswerOf("{}"));
  struct Row {
    const char* name;
    std::function<void(WebService&)> prepare;
  };
  const Row rows[] = {
      {"fresh", [](WebService&) {}},
      {"terminated",
       [](WebService& ws) {
         ASSERT_EQ(ws.Initialize(), WS_SUCCESS);
         ws.Terminate();
       }},
      {"terminated twice",
       [](WebService& ws) {
         ws.Terminate();
         ws.Terminate();
       }},
      {"copy of a fresh object whose source was initialised afterwards",
       [](WebService& ws) {
         WebService source;
         ws = source;
         ASSERT_EQ(source.Initialize(), WS_SUCCESS);
       }},
  };
  for (const Row& row : rows) {
    WebService ws;
    row.prepare(ws);
    std::string response = "untouched";
    EXPECT_EQ(ws.RequestJsonRpc(peer.Url("/r"), "{}", response), WS_ERROR_FAILED) << row.name;
    EXPECT_EQ(response, "untouched") << row.name;
    EXPECT_EQ(ws.RequestRestRpc(peer.Url("/r"), "a=1", response), WS_ERROR_FAILED) << row.name;
    EXPECT_EQ(response, "untouched") << row.name;
  }
  EXPECT_TRUE(peer.Requests().empty());
}

TEST(WebServiceTest, InitializeTwiceKeepsTheFirstTransportAndTerminateAllowsAnother) {
  LocalPeer peer;
  peer.SetAnswer("/r", AnswerOf("one"));
  WebService ws;
  std::string response;
  ASSERT_EQ(ws.Initialize(), WS_SUCCESS);
  ASSERT_EQ(ws.RequestRestRpc(peer.Url("/r"), "", response), WS_SUCCESS);
  const int first_port = LastClientPort(peer);

  // The refused second call leaves the open REST connection in place.
  EXPECT_EQ(ws.Initialize(), WS_ERROR_ALREADY_INITIALIZED);
  ASSERT_EQ(ws.RequestRestRpc(peer.Url("/r"), "", response), WS_SUCCESS);
  EXPECT_EQ(LastClientPort(peer), first_port);

  // Terminate closes the transport; a new one opens a new connection.
  ws.Terminate();
  EXPECT_EQ(ws.RequestRestRpc(peer.Url("/r"), "", response), WS_ERROR_FAILED);
  ASSERT_EQ(ws.Initialize(), WS_SUCCESS);
  ASSERT_EQ(ws.RequestRestRpc(peer.Url("/r"), "", response), WS_SUCCESS);
  EXPECT_EQ(response, "one");
  EXPECT_NE(LastClientPort(peer), first_port);
  EXPECT_EQ(peer.Requests().size(), 3u);
}

TEST(WebServiceTest, CopiesShareOneTransport) {
  LocalPeer peer;
  peer.SetAnswer("/r", AnswerOf("shared"));
  std::string response;
  auto original = std::make_unique<WebService>();
  ASSERT_EQ(original->Initialize(), WS_SUCCESS);
  ASSERT_EQ(original->RequestRestRpc(peer.Url("/r"), "", response), WS_SUCCESS);
  const int port = LastClientPort(peer);

  WebService copied(*original);
  WebService assigned;
  ASSERT_EQ(assigned.Initialize(), WS_SUCCESS);  // its own transport is let go
  assigned = *original;
  EXPECT_EQ(copied.Initialize(), WS_ERROR_ALREADY_INITIALIZED);
  EXPECT_EQ(assigned.Initialize(), WS_ERROR_ALREADY_INITIALIZED);

  ASSERT_EQ(copied.RequestRestRpc(peer.Url("/r"), "", response), WS_SUCCESS);
  EXPECT_EQ(LastClientPort(peer), port);
  ASSERT_EQ(assigned.RequestRestRpc(peer.Url("/r"), "", response), WS_SUCCESS);
  EXPECT_EQ(LastClientPort(peer), port);

  // The transport lives on in the copies after the original has gone.
  original->Terminate();
  original.reset();
  ASSERT_EQ(copied.RequestRestRpc(peer.Url("/r"), "", response), WS_SUCCESS);
  EXPECT_EQ(LastClientPort(peer), port);
  copied.Terminate();
  ASSERT_EQ(assigned.RequestRestRpc(peer.Url("/r"), "", response), WS_SUCCESS);
  EXPECT_EQ(response, "shared");
  EXPECT_EQ(LastClientPort(peer), port);
}

// Where each endpoint operation sends its request after the address setters.
TEST(WebServiceTest, AddressSettersDecideWhereRequestsGo) {
  LocalPeer peer;
  testing::SetWebApiOriginForTesting(peer.Url(""));
  using Request = std::function<void(WebService&)>;
  const Request token = [](WebService& ws) {
    std::string token, key;
    ws.RequestZuToken(1, "g", 0, token, key);
  };
  const Request accesstoken = [](WebService& ws) {
    std::string access;
    ws.RequestZuAccesstoken(1, "t", "k", 0, access);
  };
  const Request gameservice = [](WebService& ws) {
    std::string ipv4, ipv6, key1, key2;
    int control = 0, video = 0, audio = 0, input = 0;
    WebService::QualityParams quality{};
    ws.RequestZuGameservice(1, "a", 0, 2, 1, 1, 1, 0, 1, 709, 0, {}, ipv4, ipv6, control, video,
                            audio, input, key1, key2, quality);
  };
  const Request monitor = [](WebService& ws) {
    ws.RequestLauncherMonitorPut(1, 2, 3, 4, 5, "", 6);
  };
  const Request device_id = [](WebService& ws) {
    std::string response;
    int status = 0;
    ws.RequestSendDeviceId("k", "d", &response, &status, "t", "1");
  };
  struct Row {
    std::function<void(WebService&)> set;
    Request request;
    std::string expected_path;
  };
  const std::string base = peer.Url("/x/");
  const std::string base_without_slash = peer.Url("/dispatcher");
  const std::string monitor_uri = peer.Url("/m/put");
  const Row rows[] = {
      {[&](WebService& ws) { ws.SetUrlArbiterBase(base); }, token, "/x/request_token"},
      {[&](WebService& ws) { ws.SetUrlArbiterBase(base); }, accesstoken, "/x/request_accesstoken"},
      {[&](WebService& ws) { ws.SetUrlArbiterBase(base); }, gameservice, "/x/request_gameservice"},
      // No separator is inserted between base and name.
      {[&](WebService& ws) { ws.SetUrlArbiterBase(base_without_slash); }, token,
       "/dispatcherrequest_token"},
      {[&](WebService& ws) { ws.SetUriRequestLauncherMonitorPut(monitor_uri); }, monitor, "/m/put"},
      {[](WebService& ws) { ws.SetUrlSendDeviceId(); }, device_id,
       "/game/razever/app/APIEX/SorvaneClient/SendDeviceId"},
  };
  for (const Row& row : rows) {
    WebService ws;
    row.set(ws);
    // Addresses survive Terminate and a new Initialize, and are copied.
    ASSERT_EQ(ws.Initialize(), WS_SUCCESS);
    ws.Terminate();
    ASSERT_EQ(ws.Initialize(), WS_SUCCESS);
    WebService copy(ws);
    const size_t before = peer.Requests().size();
    row.request(copy);
    std::vector<testing::RecordedRequest> requests = peer.Requests();
    ASSERT_EQ(requests.size(), before + 1) << row.expected_path;
    EXPECT_EQ(requests.back().path, row.expected_path);
  }
  testing::SetWebApiOriginForTesting("https://127.0.0.1:1");
}

}  // namespace
}  // namespace vanta
