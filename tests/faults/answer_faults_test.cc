// Answers that are hostile in size, structure or bytes.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/LocalPeer.h"
#include "vanta/WebService.h"

namespace vanta {
namespace {

using testing::LocalPeer;

class AnswerFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ws_.Initialize(), WS_SUCCESS);
    ws_.SetUrlArbiterBase(peer_.Url("/d/"));
  }

  LocalPeer peer_;
  WebService ws_;
};

TEST_F(AnswerFaultsTest, DeepOrBrokenStructureIsABadAnswerAndTouchesNothing) {
  // A raw NUL byte inside a string is a control byte, not text.
  static const char kRawNul[] = "{\"status\":\"ok\",\"token\":\"a\0b\",\"zuc_key_value\":\"k\"}";
  const std::string million(1000000, '[');
  std::string objects;
  for (int i = 0; i < 200000; ++i) objects += "{\"a\":";
  const std::string rows[] = {
      million,
      "{\"status\":\"ok\",\"token\":" + million,
      "{\"status\":\"ok\",\"token\":\"t\",\"zuc_key_value\":\"k\",\"x\":" + objects,
      std::string(kRawNul, sizeof(kRawNul) - 1),
  };
  for (const std::string& body : rows) {
    peer_.SetAnswer("/d/request_token", testing::Reply(body));
    std::string token = "before", key = "before";
    EXPECT_EQ(ws_.RequestZuToken(1, "g", 0, token, key).GetValue(), WS_ERROR_BAD_RESPONSE)
        << body.substr(0, 40);
    EXPECT_EQ(token, "before");
    EXPECT_EQ(key, "before");
  }
}

TEST_F(AnswerFaultsTest, StringBytesPassThroughUncheckedBothWays) {
  // Invalid UTF-8 (a lone continuation byte, a truncated sequence, 0xFF)
  // and an escaped NUL arrive as the very bytes.
  peer_.SetAnswer(
      "/d/request_token",
      testing::Reply(
          "{\"status\":\"ok\",\"token\":\"\x80\xc3\xff\",\"zuc_key_value\":\"a\\u0000b\"}"));
  std::string token, key;
  ASSERT_EQ(ws_.RequestZuToken(1, "g", 0, token, key), WS_SUCCESS);
  EXPECT_EQ(token, "\x80\xc3\xff");
  EXPECT_EQ(key, std::string("a\0b", 3));

  // Sent back, the same bytes go out raw, and the NUL as an escape.
  peer_.SetAnswer("/d/request_accesstoken",
                  testing::Reply("{\"status\":\"ok\",\"access_token\":\"x\"}"));
  std::string access;
  ASSERT_EQ(ws_.RequestZuAccesstoken(1, token, key, 0, access), WS_SUCCESS);
  const std::string body = peer_.RequestsTo("/d/request_accesstoken").at(0).body;
  EXPECT_NE(body.find("\"token\":\"\x80\xc3\xff\""), std::string::npos) << body;
  EXPECT_NE(body.find("\"zuc_key_value\":\"a\\u0000b\""), std::string::npos) << body;
}

TEST_F(AnswerFaultsTest, SixtyFourMebibyteAnswerIsDeliveredWhole) {
  const size_t size = 64u << 20;
  const std::string prefix = "{\"status\":\"ok\",\"zuc_key_value\":\"k\",\"token\":\"";
  std::string body = prefix;
  body.resize(size - 2, 't');
  body += "\"}";
  peer_.SetAnswer("/d/request_token", testing::Reply(body));
  std::string raw;
  ASSERT_EQ(ws_.RequestJsonRpc(peer_.Url("/d/request_token"), "{}", raw), WS_SUCCESS);
  EXPECT_EQ(raw.size(), size);
  EXPECT_TRUE(raw == body);
  std::string token, key;
  ASSERT_EQ(ws_.RequestZuToken(1, "g", 0, token, key), WS_SUCCESS);
  EXPECT_EQ(token.size(), size - prefix.size() - 2);
  EXPECT_EQ(key, "k");
}

}  // namespace
}  // namespace vanta
