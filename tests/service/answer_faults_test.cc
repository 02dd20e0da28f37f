// Answers that are hostile in size, structure or bytes.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "service/WebServiceHttp.h"
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

// Answers past the size cap end the exchange before more than the cap is
// kept, whether their length is announced, endless or chunked forever.
TEST_F(AnswerFaultsTest, AnswersLargerThanTheCapAreRefused) {
  const size_t cap = WebServiceHttp::kMaxAnswerBytes;
  // Endless answers: an announced length far past the cap, and chunks.
  auto endless = [](httplib::DataSink& sink) {
    const std::string chunk(65536, 'x');
    return sink.write(chunk.data(), chunk.size());
  };
  peer_.SetHandler("/endless", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(
        size_t{1} << 40, "application/json",
        [&](size_t, size_t, httplib::DataSink& sink) { return endless(sink); });
  });
  peer_.SetHandler("/chunked", [&](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider(
        "application/json", [&](size_t, httplib::DataSink& sink) { return endless(sink); });
  });
  peer_.SetAnswer("/over", testing::Reply(std::string(cap + 1, 'x')));
  peer_.SetAnswer("/at", testing::Reply(std::string(cap, 'x')));
  const std::pair<std::string, uint32_t> rows[] = {
      {"/endless", WS_ERROR_FAILED},
      {"/chunked", WS_ERROR_FAILED},
      {"/over", WS_ERROR_FAILED},
      {"/at", WS_SUCCESS},
  };
  for (bool post : {true, false}) {
    for (const auto& [path, code] : rows) {
      std::string response;
      const ErrorCode result = post ? ws_.RequestJsonRpc(peer_.Url(path), "{}", response)
                                    : ws_.RequestRestRpc(peer_.Url(path), "", response);
      EXPECT_EQ(result.GetValue(), code) << path;
      EXPECT_LE(response.size(), cap) << path;
      if (code == WS_SUCCESS) {
        EXPECT_EQ(response.size(), cap) << path;
      }
    }
  }
}

}  // namespace
}  // namespace vanta
