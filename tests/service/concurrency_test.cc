// Sixteen WebService objects on sixteen threads at once, each with its own
// exchanges, while trace handlers come and go; run under ThreadSanitizer
// too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/LocalPeer.h"
#include "vanta/WebService.h"

namespace vanta {
namespace {

// Counts the lines it is handed, and those handed after its removal.
struct Counter {
  std::atomic<int> lines{0};
  std::atomic<bool> removed{false};
  std::atomic<int> late{0};
  static void Count(const char*, void* context) {
    Counter* counter = static_cast<Counter*>(context);
    ++counter->lines;
    if (counter->removed) ++counter->late;
  }
};

TEST(ConcurrencyTest, SixteenServicesExchangeAtOnceWithoutCrossTalk) {
  constexpr int kThreads = 16;
  constexpr int kRounds = 6;
  testing::LocalPeer peer;
  // Each answer carries what its own request sent, so that an answer that
  // reached the wrong thread is seen.
  peer.SetHandler("/m", [](const httplib::Request& req, httplib::Response& res) {
    // Closing after each answer keeps the peer's worker threads free for
    // the other fifteen clients; libcurl reconnects on the kept handle.
    res.set_header("Connection", "close");
    res.set_content(R"({"status":"ok","echo":")" + req.get_param_value("slotid") + "\"}",
                    "application/json");
  });
  peer.SetHandler("/d/request_token", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content(
        R"({"status":"ok","zuc_key_value":"k","token":")" + std::to_string(req.body.size()) + "\"}",
        "application/json");
  });
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      WebService ws;
      failures += ws.Initialize() != WS_SUCCESS;
      ws.SetUrlArbiterBase(peer.Url("/d/"));
      for (int round = 0; round < kRounds; ++round) {
        // Game identifiers of different lengths give bodies of different
        // lengths, which the answers echo.
        const std::string gameid(static_cast<size_t>(t * kRounds + round), 'g');
        std::string token, key, echo;
        failures += ws.RequestZuToken(1, gameid, 0, token, key) != WS_SUCCESS ||
                    token != std::to_string(gameid.size() + 71);
        const std::string slot = std::to_string(t * 100 + round);
        failures += ws.RequestRestRpc(peer.Url("/m"), "slotid=" + slot, echo) != WS_SUCCESS ||
                    echo != R"({"status":"ok","echo":")" + slot + "\"}";
      }
    });
  }
  Counter counters[2];
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
  EXPECT_EQ(peer.Requests().size(), static_cast<size_t>(kThreads * kRounds * 2));
}

}  // namespace
}  // namespace vanta
