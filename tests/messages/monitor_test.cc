// The launcher monitor report and its address setter against a local peer.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>

#include "tests/support/LocalPeer.h"
#include "vanta/WebService.h"

namespace vanta {
namespace {

using testing::LocalPeer;

class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(service.Initialize(), WS_SUCCESS);
    service.SetUriRequestLauncherMonitorPut(peer.Url("/monitor/put"));
    peer.SetAnswer("/monitor/put", testing::Reply(R"({"status":"ok"})"));
  }
  ErrorCode Report() { return service.RequestLauncherMonitorPut(1, 2, 3, 4, 5, "ip", 6); }

  LocalPeer peer;
  WebService service;
};

TEST_F(MonitorTest, QueryIsSentByteForByte) {
  struct Row {
    int slot, capture, heartbeat, handling, delay;
    std::string remote_ip;
    int remote_port;
    std::string query;
  };
  const Row rows[] = {
      {3, 10, 20, 30, 40, "10.0.0.5", 5000,
       "slotid=3&capture_down_time=10&heartbeat_down_time=20&handling_down_time=30&"
       "client_delay=40&remote_ip=10.0.0.5&remote_port=5000"},
      {0, 0, 0, 0, -1, "", 0,
       "slotid=0&capture_down_time=0&heartbeat_down_time=0&handling_down_time=0&"
       "client_delay=-1&remote_ip=none&remote_port=0"},
      {INT_MIN, INT_MAX, 7, 8, 9, "a&b=c", -1,
       "slotid=-2147483648&capture_down_time=2147483647&heartbeat_down_time=7&"
       "handling_down_time=8&client_delay=9&remote_ip=a&b=c&remote_port=-1"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(service.RequestLauncherMonitorPut(row.slot, row.capture, row.heartbeat, row.handling,
                                                row.delay, row.remote_ip, row.remote_port),
              WS_SUCCESS);
    const auto request = peer.Requests().back();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/monitor/put?" + row.query);
    EXPECT_EQ(request.body, "");
  }
  // A space goes into the query as it is, and libcurl refuses such an
  // address as malformed before anything is sent.
  const size_t sent = peer.Requests().size();
  EXPECT_EQ(service.RequestLauncherMonitorPut(1, 2, 3, 4, 5, "a b", 6), WS_ERROR_URL_MALFORMED);
  EXPECT_EQ(peer.Requests().size(), sent);
}

TEST_F(MonitorTest, AnswerMustSayOk) {
  const std::pair<std::string, uint32_t> rows[] = {
      {R"({"status":"ok"})", WS_SUCCESS},
      {R"( {"extra":1,"status":"ok"} x)", WS_SUCCESS},
      {R"({"status":"OK"})", WS_ERROR_BAD_RESPONSE},
      {R"({"status":"ng","result":8,"message":"x"})", WS_ERROR_BAD_RESPONSE},
      {R"({"status":0})", WS_ERROR_BAD_RESPONSE},
      {"", WS_ERROR_BAD_RESPONSE},
  };
  for (const auto& [answer, code] : rows) {
    peer.SetAnswer("/monitor/put", testing::Reply(answer));
    EXPECT_EQ(Report(), code) << answer;
  }
}

// The address from its parts; a refused address keeps the old one. A failed
// report closes the connection and the next one opens another.
TEST_F(MonitorTest, AddressFromParts) {
  struct Row {
    std::string scheme;
    int port;
    std::string path;
    uint32_t set_code;
    std::string reached_path;  // on the peer; empty: not reached
    uint32_t report_code;
    bool same_connection;  // as the report before
  };
  const int port = peer.port();
  const Row rows[] = {
      {"http://", port, "monitor/put", WS_SUCCESS, "/monitor/put", WS_SUCCESS, false},
      {"HTTP://", port, "other", WS_ERROR_FAILED, "/monitor/put", WS_SUCCESS, true},
      {"http:", port, "other", WS_ERROR_FAILED, "/monitor/put", WS_SUCCESS, true},
      // Accepted: the report now goes to a port where nothing listens.
      {"https://", testing::ClosedLoopbackPort(), "monitor/put", WS_SUCCESS, "",
       WS_ERROR_CONNECT_FAILED, false},
      {"http://", port, "/monitor/put", WS_SUCCESS, "//monitor/put", WS_ERROR_SERVER_ERROR, false},
      {"http://", port, "monitor/put", WS_SUCCESS, "/monitor/put", WS_SUCCESS, false},
  };
  int last_port = -1;
  for (const Row& row : rows) {
    const std::string name = row.scheme + std::to_string(row.port) + row.path;
    const size_t sent = peer.Requests().size();
    EXPECT_EQ(service.SetUriRequestLauncherMonitorPut(row.scheme, "127.0.0.1", row.port, row.path),
              row.set_code)
        << name;
    EXPECT_EQ(Report(), row.report_code) << name;
    const auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), sent + (row.reached_path.empty() ? 0 : 1)) << name;
    if (row.reached_path.empty()) continue;
    EXPECT_EQ(requests.back().path, row.reached_path) << name;
    EXPECT_EQ(requests.back().headers.find("Host")->second, "127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(requests.back().client_port == last_port, row.same_connection) << name;
    last_port = requests.back().client_port;
  }
}

}  // namespace
}  // namespace vanta
