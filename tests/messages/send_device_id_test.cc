// Device identifier registration against a local HTTP peer standing in for
// the web API.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "tests/support/LocalPeer.h"
#include "tests/support/TestWebApiHost.h"
#include "vanta/WebService.h"

namespace vanta {
namespace {

TEST(SendDeviceIdTest, BodyAndAnswers) {
  const char kPath[] = "/game/razever/app/APIEX/SorvaneClient/SendDeviceId";
  testing::LocalPeer peer;
  testing::SetWebApiOriginForTesting(peer.Url(""));
  WebService service;
  ASSERT_EQ(service.Initialize(), WS_SUCCESS);
  service.SetUrlSendDeviceId();
  struct Row {
    std::string answer;
    int http_status;
    uint32_t code;
    int status;  // -7: untouched
  } rows[] = {
      {R"({"status":0,"message":""})", 200, WS_SUCCESS, -7},
      {R"({"status":2,"message":"x"})", 200, WS_ERROR_SERVER_RESULT_2_5_6_7, 2},
      {R"({"status":3.9,"message":"x"})", 200, WS_ERROR_SERVER_ERROR, 3},
      {R"({"status":8,"message":null})", 200, WS_ERROR_SERVER_RESULT_8, 8},
      {R"({"status":1e10,"message":"x"})", 200, WS_ERROR_SERVER_ERROR, INT_MIN},
      // A status that is not a number counts as one out of range.
      {R"({"status":"2","message":"x"})", 200, WS_ERROR_SERVER_ERROR, INT_MIN},
      {R"({"status":0})", 200, WS_ERROR_BAD_RESPONSE, -7},
      {R"({"message":"x"})", 200, WS_ERROR_BAD_RESPONSE, -7},
      {R"({"status":0,"message":""})", 400, WS_ERROR_SERVER_ERROR, -7},
  };
  for (const Row& row : rows) {
    peer.SetAnswer(kPath, testing::Reply(row.answer, row.http_status));
    std::string response = "old";
    int status = -7;
    EXPECT_EQ(service.RequestSendDeviceId("key/1", "dev\nid", &response, &status, "0", "1.1.0"),
              row.code)
        << row.answer;
    EXPECT_EQ(status, row.status) << row.answer;
    // The answer text is handed back whatever the outcome; an HTTP error
    // delivers no body.
    EXPECT_EQ(response, row.http_status == 200 ? row.answer : "") << row.answer;
  }
  const auto requests = peer.RequestsTo(kPath);
  ASSERT_EQ(requests.size(), sizeof(rows) / sizeof(rows[0]));
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].body, R"({"client_version":"1.1.0","device_id":"dev\nid",)"
                              R"("request_type":"0","zu_key_value":"key\/1"})");
}

}  // namespace
}  // namespace vanta
