// Many WebService objects used on many threads at once, each with its own
// exchanges; run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/LocalPeer.h"
#include "tests/support/TestEnv.h"
#include "vanta/WebService.h"

namespace vanta {
namespace {

using testing::LocalPeer;

// The value of "gameid" in a request body such as {"...","gameid":"g-3-7",...}.
std::string GameidOf(const std::string& body) {
  const std::string key = "\"gameid\":\"";
  size_t begin = body.find(key);
  if (begin == std::string::npos) return "";
  begin += key.size();
  return body.substr(begin, body.find('"', begin) - begin);
}

TEST(ConcurrencyTest, SixteenServicesExchangeAtOnceWithoutCrossTalk) {
  constexpr int kThreads = 16;
  constexpr int kRounds = 6;
  LocalPeer peer;
  // Each answer carries what its own request sent, so that an answer that
  // reached the wrong thread is seen.
  peer.SetHandler("/d/request_token", [](const httplib::Request& req, httplib::Response& res) {
    const std::string id = GameidOf(req.body);
    res.set_content(
        "{\"status\":\"ok\",\"token\":\"t-" + id + "\",\"zuc_key_value\":\"k-" + id + "\"}",
        "application/json");
  });
  peer.SetHandler("/monitor", [](const httplib::Request& req, httplib::Response& res) {
    // Closing after each answer keeps the peer's worker threads free for
    // the other fifteen clients; libcurl reconnects on the kept handle.
    res.set_header("Connection", "close");
    res.set_content("{\"status\":\"ok\",\"echo\":\"" + req.get_param_value("slotid") + "\"}",
                    "application/json");
  });
  peer.SetAnswer("/game/razever/app/APIEX/SorvaneClient/SendDeviceId",
                 testing::Reply("{\"status\":5,\"message\":\"\"}"));
  testing::TestEnv env;
  env.web_api_origin = peer.Url("");

  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      WebService ws;
      if (ws.Initialize() != WS_SUCCESS) {
        ++failures;
        return;
      }
      ws.SetUrlArbiterBase(peer.Url("/d/"));
      ws.SetUrlSendDeviceId();
      ws.SetUriRequestLauncherMonitorPut(peer.Url("/monitor"));
      for (int round = 0; round < kRounds; ++round) {
        const std::string id = std::to_string(t) + "-" + std::to_string(round);
        std::string token, key, rest;
        if (ws.RequestZuToken(1, "g-" + id, round, token, key) != WS_SUCCESS ||
            token != "t-g-" + id || key != "k-g-" + id) {
          ++failures;
        }
        const int slot = t * 100 + round;
        if (ws.RequestRestRpc(peer.Url("/monitor"), "slotid=" + std::to_string(slot), rest) !=
                WS_SUCCESS ||
            rest != "{\"status\":\"ok\",\"echo\":\"" + std::to_string(slot) + "\"}") {
          ++failures;
        }
        if (ws.RequestLauncherMonitorPut(slot, 0, 0, 0, 0, "", 0) != WS_SUCCESS) ++failures;
        std::string response;
        int status = 0;
        if (ws.RequestSendDeviceId("k", "d-" + id, &response, &status, "0", "1.1.0") !=
                WS_ERROR_SERVER_RESULT_2_5_6_7 ||
            status != 5) {
          ++failures;
        }
      }
    });
  }
  // Trace handlers come and go while the exchanges run: each line goes to
  // the handler installed at the time, and none after its removal.
  struct Counter {
    std::atomic<int> lines{0};
    std::atomic<bool> removed{false};
    std::atomic<int> late{0};
    static void Count(const char* line, void* context) {
      Counter* counter = static_cast<Counter*>(context);
      ++counter->lines;
      if (counter->removed || line[0] == '\0') ++counter->late;
    }
  } counters[2];
  for (int swap = 0; swap < 200; ++swap) {
    Counter& counter = counters[swap % 2];
    counter.removed = false;
    SetTraceHandler(&Counter::Count, &counter);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    SetTraceHandler(nullptr, nullptr);
    counter.removed = true;
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(counters[0].late + counters[1].late, 0);
  EXPECT_GT(counters[0].lines + counters[1].lines, 0);
  EXPECT_EQ(peer.Requests().size(), static_cast<size_t>(kThreads * kRounds * 4));
}

}  // namespace
}  // namespace vanta
