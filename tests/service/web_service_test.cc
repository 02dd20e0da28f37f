// The life cycle of a WebService and of its copies, sixteen of them
// exchanging at once (run under ThreadSanitizer too), the release check of
// Initialize, and the tables of result codes.
#include "vanta/WebService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "service/Codes.h"
#include "service/ReleaseGate.h"
#include "tests/support/LocalPeer.h"

namespace vanta {
namespace {

using testing::LocalPeer;

// Copies share the transport (one connection) and the addresses; the
// transport lives on until the last copy lets it go. Without one, before
// Initialize or after Terminate, nothing is sent.
TEST(WebServiceTest, CopiesShareOneTransport) {
  LocalPeer peer;
  peer.SetAnswer("/m", testing::Reply(R"({"status":"ok"})"));
  std::string response;
  EXPECT_EQ(WebService().RequestRestRpc(peer.Url("/m"), "", response), WS_ERROR_FAILED);
  auto original = std::make_unique<WebService>();
  ASSERT_EQ(original->Initialize(), WS_SUCCESS);
  original->SetUriRequestLauncherMonitorPut(peer.Url("/m"));
  ASSERT_EQ(original->RequestRestRpc(peer.Url("/m"), "", response), WS_SUCCESS);
  const int port = peer.Requests().back().remote_port;

  WebService copied(*original);
  WebService assigned;
  ASSERT_EQ(assigned.Initialize(), WS_SUCCESS);  // its own transport is let go
  assigned = *original;
  original->Terminate();
  original.reset();
  for (WebService* ws : {&copied, &assigned}) {
    ASSERT_EQ(ws->RequestLauncherMonitorPut(1, 2, 3, 4, 5, "", 6), WS_SUCCESS);
    EXPECT_EQ(peer.Requests().back().remote_port, port);
    ws->Terminate();
    EXPECT_EQ(ws->RequestLauncherMonitorPut(1, 2, 3, 4, 5, "", 6), WS_ERROR_FAILED);
  }
  EXPECT_EQ(peer.Requests().size(), 3u);
}

// Counts the lines it is handed, and those handed after its removal.
struct Counter {
  std::atomic<int> lines{0}, late{0};
  std::atomic<bool> removed{false};
  static void Count(const char*, void* context) {
    Counter* counter = static_cast<Counter*>(context);
    ++counter->lines;
    if (counter->removed) ++counter->late;
  }
};

TEST(ConcurrencyTest, SixteenServicesExchangeAtOnceWithoutCrossTalk) {
  constexpr int kThreads = 16, kRounds = 6;
  testing::LocalPeer peer;
  // Each answer carries what its own request sent, so that an answer that
  // reached the wrong thread is seen. Closing after each answer keeps the
  // peer's worker threads free for the other clients.
  peer.SetHandler("/m", [](const httplib::Request& req, httplib::Response& res) {
    res.set_header("Connection", "close");
    res.set_content(req.get_param_value("slotid"), "application/json");
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
        failures +=
            ws.RequestRestRpc(peer.Url("/m"), "slotid=" + slot, echo) != WS_SUCCESS || echo != slot;
      }
    });
  }
  // Meanwhile the trace handler comes and goes: once removed, never called.
  Counter counter;
  for (int swap = 0; swap < 200; ++swap) {
    counter.removed = false;
    SetTraceHandler(&Counter::Count, &counter);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    SetTraceHandler(nullptr, nullptr);
    counter.removed = true;
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(counter.late, 0);
  EXPECT_GT(counter.lines, 0);
  EXPECT_EQ(peer.Requests().size(), static_cast<size_t>(kThreads * kRounds * 2));
}

TEST(ReleaseGateTest, EachModeAcceptsItsReleases) {
  const Releases built = RequiredReleases(ReleaseMode::kBuild);
  const unsigned long ssl = built.openssl;
  const unsigned int curl = built.curl;
  using M = ReleaseMode;
  struct Row {
    Releases runtime;           // OpenSSL and libcurl at run time
    bool build, exact, vendor;  // whether each mode lets them pass
  };
  const Row rows[] = {
      {{ssl, curl}, true, true, false},
      {{ssl + 0x10, curl}, true, false, false},           // a later OpenSSL patch
      {{ssl - 0x10, curl}, false, false, false},          // an earlier one
      {{ssl, curl + 1}, true, false, false},              // a later libcurl patch
      {{ssl, curl - 1}, false, false, false},             // an earlier one
      {{ssl + 0x10000000UL, curl}, false, false, false},  // another OpenSSL major version
      {{ssl, curl + 0x10000}, false, false, false},       // another libcurl major version
      {{0x1010107FUL, 0x074600u}, false, false, true},    // OpenSSL 1.1.1g, libcurl 7.70.0
  };
  for (const auto& [runtime, build, exact, vendor] : rows) {
    const std::pair<M, bool> modes[] = {
        {M::kBuild, build}, {M::kExact, exact}, {M::kVendor, vendor}};
    for (const auto& [mode, passes] : modes) {
      EXPECT_EQ(CheckReleases(runtime, mode), passes ? WS_SUCCESS : WS_ERROR_LIBRARY_VERSION)
          << std::hex << runtime.openssl << " " << runtime.curl << " mode " << int(mode);
    }
  }
}

// Each row: the code and every input that must give it. The last row of
// each table holds unlisted inputs, close neighbours of listed ones.
TEST(CodesTest, MappingsAndServerResponseCodes) {
  const std::pair<uint32_t, std::vector<int>> transport[] = {
      {WS_SUCCESS, {0}},
      {WS_ERROR_URL_MALFORMED, {3}},
      {WS_ERROR_HOST_NOT_RESOLVED, {6}},
      {WS_ERROR_CONNECT_FAILED, {7, 9}},
      {WS_ERROR_SERVER_ERROR, {22}},
      {WS_ERROR_OUT_OF_MEMORY, {27}},
      {WS_ERROR_TIMED_OUT, {28}},
      {WS_ERROR_TLS_FAILED, {35, 42, 58, 59, 60, 77}},
      {WS_ERROR_FAILED, {-1, 1, 2, 5, 8, 47, 56, 76, 78, 99}},
  };
  for (const auto& [code, inputs] : transport) {
    for (int input : inputs) EXPECT_EQ(MapTransportResult(input).GetValue(), code) << input;
  }
  const std::pair<uint32_t, std::vector<int32_t>> status[] = {
      {WS_ERROR_SERVER_RESULT_2_5_6_7, {2, 5, 6, 7}},
      {WS_ERROR_SERVER_RESULT_8, {8}},
      {WS_ERROR_SERVER_RESULT_10, {10}},
      {WS_ERROR_SERVER_RESULT_11, {11}},
      {WS_ERROR_SERVER_ERROR, {INT32_MIN, -1, 0, 1, 3, 4, 9, 12, INT32_MAX}},
  };
  for (const auto& [code, inputs] : status) {
    for (int32_t input : inputs) EXPECT_EQ(MapServerStatus(input).GetValue(), code) << input;
  }
  // Every code's name, and whether another attempt cannot change it (the
  // first seven), asked through the public object, which needs no
  // Initialize. Only bit 31 makes a failure.
  // clang-format off
#define N(code) {code, #code}
  const std::pair<uint32_t, std::string> named[] = {
      N(WS_SUCCESS), N(WS_ERROR_NO_TRANSPORT), N(WS_ERROR_BAD_RESPONSE),
      N(WS_ERROR_SERVER_RESULT_8), N(WS_ERROR_SERVER_RESULT_2_5_6_7), N(WS_ERROR_SERVER_RESULT_10),
      N(WS_ERROR_SERVER_RESULT_11), N(WS_ERROR_FAILED), N(WS_ERROR_OUT_OF_MEMORY),
      N(WS_ERROR_ALREADY_INITIALIZED), N(WS_ERROR_ABORTED), N(WS_ERROR_URL_MALFORMED),
      N(WS_ERROR_HOST_NOT_RESOLVED), N(WS_ERROR_CONNECT_FAILED), N(WS_ERROR_TIMED_OUT),
      N(WS_ERROR_TLS_FAILED), N(WS_ERROR_SERVER_ERROR), N(WS_ERROR_LIBRARY_VERSION),
      N(WS_ERROR_THREAD_INITIALIZE), N(WS_ERROR_THREAD_START),
      {1u, "unknown"}, {0xAC40C803u, "unknown"}, {0xFFFFFFFFu, "unknown"}};
#undef N
  // clang-format on
  WebService ws;
  for (size_t i = 0; i < std::size(named); ++i) {
    const auto& [code, name] = named[i];
    EXPECT_EQ(ErrorCode(code).Name(), name);
    EXPECT_EQ(ws.IsServerResponse(code), i < 7) << name;
    EXPECT_EQ(ErrorCode(code).IsFailure(), code >= 0x80000000u) << name;
  }
}

}  // namespace
}  // namespace vanta
