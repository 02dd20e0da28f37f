#include "tools/dispatcher_book.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "messages/Json.h"
#include "service/Codes.h"
#include "vanta/WebService.h"

namespace vanta {
namespace tools {
namespace {

const uint32_t kMalformed = WS_ERROR_SERVER_ERROR;           // result 1
const uint32_t kNotIssued = WS_ERROR_SERVER_RESULT_2_5_6_7;  // result 2

std::string TokenRequest(const std::string& gameid) {
  return R"({"action":"request_token","client_version":1,"gameid":")" + gameid +
         R"(","try_count":1})";
}

std::string AccessRequest(const std::string& token, const std::string& key) {
  return R"({"action":"request_accesstoken","client_version":1,"token":")" + token +
         R"(","try_count":1,"zuc_key_value":")" + key + R"("})";
}

std::string GameRequest(const std::string& access_token, const std::string& io_touch = "1") {
  return R"({"access_token":")" + access_token +
         R"(","action":"request_gameservice","audio_profile":2,"client_version":1,"env":{},)"
         R"("io_gamepad":1,"io_keyboard":1,"io_mouse":1,"io_sensor":0,"io_touch":)" +
         io_touch + R"(,"try_count":1,"video_profile":0,"yuv_itu_r_bt":709})";
}

// The answer's code as the library reads it, and its members.
uint32_t Ask(DispatcherBook& book, const char* action, const std::string& body,
             picojson::value* members = nullptr) {
  picojson::value parsed;
  const uint32_t code = CodeOf(json::CheckEnvelope(book.Answer(action, body), parsed)).GetValue();
  if (members != nullptr) *members = parsed;
  return code;
}

TEST(DispatcherBookTest, AcceptsWellFormedRequestsForWhatItIssued) {
  DispatcherBook book{GameService()};
  book.Issue("tok", "key");
  picojson::value granted;
  ASSERT_EQ(Ask(book, "request_accesstoken", AccessRequest("tok", "key"), &granted), WS_SUCCESS);
  const std::string access = granted.get("access_token").to_str();
  const std::tuple<const char*, std::string, uint32_t> rows[] = {
      {"request_gameservice", GameRequest(access, "1"), WS_SUCCESS},
      {"request_accesstoken", AccessRequest("tok", "other"), kNotIssued},
      {"request_gameservice", GameRequest("tok", "1"), kNotIssued},
      {"request_gameservice", GameRequest(access, "\"1\""), kMalformed},
      {"request_token", "not json", kMalformed},
      {"request_token", R"({"action":"request_token","client_version":1,"try_count":1})",
       kMalformed},
      {"request_accesstoken", TokenRequest("g"), kMalformed},
      {"request_token", R"({"action":"request_token","client_version":1e999})", kMalformed},
      {"request_token", std::string(1000, '['), kMalformed},
  };
  for (const auto& [action, body, expected] : rows)
    EXPECT_EQ(Ask(book, action, body), expected) << body;
}

// Each table keeps the newest kKeptIssued entries; an older token or access
// token is refused as not issued, and each access token keeps the game
// identifier of the token it came from.
TEST(DispatcherBookTest, KeepsOnlyTheNewestTokensAndAccessTokens) {
  DispatcherBook book{GameService()};
  const size_t kept = DispatcherBook::kKeptIssued;
  std::vector<std::string> tokens, keys;
  for (size_t i = 0; i <= kept; ++i) {
    picojson::value issued;
    ASSERT_EQ(Ask(book, "request_token", TokenRequest("g" + std::to_string(i)), &issued),
              WS_SUCCESS);
    tokens.push_back(issued.get("token").to_str());
    keys.push_back(issued.get("zuc_key_value").to_str());
  }
  std::vector<std::string> access;  // from tokens 1, kept, ..., kept, 2
  for (size_t i = 0; i <= kept; ++i) {
    const size_t from = i == 0 ? 1 : i == kept ? 2 : kept;
    picojson::value granted;
    ASSERT_EQ(Ask(book, "request_accesstoken", AccessRequest(tokens[from], keys[from]), &granted),
              WS_SUCCESS)
        << "token " << from;
    access.push_back(granted.get("access_token").to_str());
  }
  EXPECT_EQ(Ask(book, "request_accesstoken", AccessRequest(tokens[0], keys[0])), kNotIssued)
      << "the oldest token should be gone";
  const std::tuple<std::string, uint32_t, std::string> rows[] = {
      {access[0], kNotIssued, ""},  // the oldest access token is gone
      {access[1], WS_SUCCESS, "g" + std::to_string(kept)},
      {access[kept], WS_SUCCESS, "g2"},
  };
  for (const auto& [access_token, expected, gameid] : rows) {
    picojson::value service;
    EXPECT_EQ(Ask(book, "request_gameservice", GameRequest(access_token), &service), expected);
    if (expected == WS_SUCCESS) {
      EXPECT_EQ(service.get("gameid").to_str(), gameid);
    }
  }
}

}  // namespace
}  // namespace tools
}  // namespace vanta
