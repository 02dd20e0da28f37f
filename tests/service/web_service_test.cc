// The life cycle of a WebService and of its copies, the release check of
// Initialize, and the tables of result codes.
#include "vanta/WebService.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "service/Codes.h"
#include "service/ReleaseGate.h"
#include "tests/support/LocalPeer.h"
#include "tests/support/TestEnv.h"

namespace vanta {
namespace {

using testing::LocalPeer;

TEST(WebServiceTest, ObjectWithoutTransportRefusesEveryRequestAndSendsNothing) {
  LocalPeer peer;
  testing::TestEnv env;
  env.web_api_origin = peer.Url("");
  WebService fresh, terminated;
  ASSERT_EQ(terminated.Initialize(), WS_SUCCESS);
  terminated.Terminate();
  terminated.Terminate();
  for (WebService* service : {&fresh, &terminated}) {
    WebService& ws = *service;
    ws.SetUrlArbiterBase(peer.Url("/d/"));
    ws.SetUriRequestLauncherMonitorPut(peer.Url("/m"));
    ws.SetUrlSendDeviceId();
    std::string text = "old";
    int number = 1;
    WebService::QualityParams quality{};
    quality.version = 7;
    const ErrorCode codes[] = {
        ws.RequestJsonRpc(peer.Url("/r"), "{}", text),
        ws.RequestRestRpc(peer.Url("/r"), "a=1", text),
        ws.RequestZuToken(3, "x", 0, text, text),
        ws.RequestZuAccesstoken(3, "x", "k", 0, text),
        ws.RequestZuGameservice(3, "a", 0, 2, 1, 1, 1, 0, 1, 709, 0, {}, text, text, number, number,
                                number, number, text, text, quality),
        ws.RequestLauncherMonitorPut(1, 2, 3, 4, 5, "", 6),
        ws.RequestSendDeviceId("k", "d", &text, &number, "0", "1.1.0"),
    };
    for (ErrorCode code : codes) EXPECT_EQ(code.GetValue(), WS_ERROR_FAILED);
    EXPECT_EQ(text + std::to_string(number) + std::to_string(quality.version), "old17");
  }
  EXPECT_TRUE(peer.Requests().empty());
}

// Copies share the transport (one connection) and the addresses; the
// transport lives on until the last copy lets it go.
TEST(WebServiceTest, CopiesShareOneTransport) {
  LocalPeer peer;
  peer.SetAnswer("/m", testing::Reply(R"({"status":"ok"})"));
  std::string response;
  auto original = std::make_unique<WebService>();
  ASSERT_EQ(original->Initialize(), WS_SUCCESS);
  original->SetUriRequestLauncherMonitorPut(peer.Url("/m"));
  ASSERT_EQ(original->RequestRestRpc(peer.Url("/m"), "", response), WS_SUCCESS);
  const int port = peer.Requests().back().client_port;

  WebService copied(*original);
  WebService assigned;
  ASSERT_EQ(assigned.Initialize(), WS_SUCCESS);  // its own transport is let go
  assigned = *original;
  EXPECT_EQ(copied.Initialize(), WS_ERROR_ALREADY_INITIALIZED);
  EXPECT_EQ(assigned.Initialize(), WS_ERROR_ALREADY_INITIALIZED);
  original->Terminate();
  original.reset();
  for (WebService* ws : {&copied, &assigned}) {
    ASSERT_EQ(ws->RequestLauncherMonitorPut(1, 2, 3, 4, 5, "", 6), WS_SUCCESS);
    EXPECT_EQ(peer.Requests().back().client_port, port);
    ws->Terminate();
  }
  EXPECT_EQ(peer.Requests().size(), 3u);
}

TEST(ReleaseGateTest, EachModeAcceptsItsReleases) {
  const Releases built = RequiredReleases(ReleaseMode::kBuild);
  const unsigned long ssl = built.openssl;
  const unsigned int curl = built.curl;
  using M = ReleaseMode;
  // OpenSSL and libcurl at run time; whether build, exact and vendor pass.
  const std::tuple<Releases, bool, bool, bool> rows[] = {
      {{ssl, curl}, true, true, false},
      {{ssl + 0x10, curl}, true, false, false},           // a later OpenSSL patch
      {{ssl - 0x10, curl}, false, false, false},          // an earlier one
      {{ssl, curl + 1}, true, false, false},              // a later libcurl patch
      {{ssl, curl - 1}, false, false, false},             // an earlier one
      {{ssl + 0x10000000UL, curl}, false, false, false},  // another OpenSSL major version
      {{ssl, curl + 0x10000}, false, false, false},       // another libcurl major version
      {{ssl, 0}, false, false, false},                    // libcurl not asked
      {{0x1010107FUL, 0x074600u}, false, false, true},    // OpenSSL 1.1.1g, libcurl 7.70.0
      {{0x1010108FUL, 0x074600u}, false, false, false},   // 1.1.1h
      {{0x1010107FUL, 0x074700u}, false, false, false},   // 7.71.0
  };
  for (const auto& [runtime, build, exact, vendor] : rows) {
    const std::pair<M, bool> modes[] = {
        {M::kBuild, build}, {M::kExact, exact}, {M::kVendor, vendor}};
    for (const auto& [mode, passes] : modes) {
      EXPECT_EQ(CheckReleases(runtime, mode), passes ? WS_SUCCESS : WS_ERROR_LIBRARY_VERSION)
          << std::hex << runtime.openssl << " " << runtime.curl << " mode " << int(mode);
    }
  }
  // The libraries this program runs with pass the mode it was built with;
  // libcurl is not asked once OpenSSL fails.
  const ReleaseMode mode = ConfiguredReleaseMode();
  EXPECT_EQ(CheckReleases(RuntimeReleases(mode), mode),
            mode == M::kVendor ? WS_ERROR_LIBRARY_VERSION : WS_SUCCESS);
  EXPECT_EQ(RuntimeReleases(M::kVendor).curl, 0u);
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
  // Every code: its name, and whether another attempt cannot change it
  // (asked through the public object, which needs no Initialize). Only
  // bit 31 makes a failure.
  struct Named {
    uint32_t code;
    const char* name;
    bool server_response;
  };
#define VANTA_NAMED(code, server_response) \
  Named { code, #code, server_response }
  // clang-format off
  const Named named[] = {
      VANTA_NAMED(WS_SUCCESS, true),                 VANTA_NAMED(WS_ERROR_FAILED, false),
      VANTA_NAMED(WS_ERROR_OUT_OF_MEMORY, false),    VANTA_NAMED(WS_ERROR_ALREADY_INITIALIZED, false),
      VANTA_NAMED(WS_ERROR_NO_TRANSPORT, true),      VANTA_NAMED(WS_ERROR_BAD_RESPONSE, true),
      VANTA_NAMED(WS_ERROR_ABORTED, false),          VANTA_NAMED(WS_ERROR_URL_MALFORMED, false),
      VANTA_NAMED(WS_ERROR_HOST_NOT_RESOLVED, false), VANTA_NAMED(WS_ERROR_CONNECT_FAILED, false),
      VANTA_NAMED(WS_ERROR_TIMED_OUT, false),        VANTA_NAMED(WS_ERROR_TLS_FAILED, false),
      VANTA_NAMED(WS_ERROR_SERVER_RESULT_8, true),   VANTA_NAMED(WS_ERROR_SERVER_ERROR, false),
      VANTA_NAMED(WS_ERROR_SERVER_RESULT_2_5_6_7, true),
      VANTA_NAMED(WS_ERROR_SERVER_RESULT_10, true),  VANTA_NAMED(WS_ERROR_SERVER_RESULT_11, true),
      VANTA_NAMED(WS_ERROR_LIBRARY_VERSION, false),  VANTA_NAMED(WS_ERROR_THREAD_INITIALIZE, false),
      VANTA_NAMED(WS_ERROR_THREAD_START, false),     {1u, "unknown", false},
      {0xAC40C803u, "unknown", false},               {0xFFFFFFFFu, "unknown", false}};
  // clang-format on
#undef VANTA_NAMED
  WebService ws;
  for (const Named& row : named) {
    EXPECT_EQ(ErrorCode(row.code).Name(), std::string(row.name));
    EXPECT_EQ(ws.IsServerResponse(row.code), row.server_response) << row.name;
    EXPECT_EQ(ErrorCode(row.code).IsFailure(), row.code >= 0x80000000u) << row.name;
  }
}

}  // namespace
}  // namespace vanta
