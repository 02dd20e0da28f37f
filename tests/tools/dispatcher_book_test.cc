#include "tools/dispatcher_book.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "messages/Json.h"
#include "service/Codes.h"
#include "vanta/WebService.h"

namespace vanta {
namespace tools {
namespace {

TEST(DispatcherBookTest, AcceptsWellFormedRequestsForWhatItIssued) {
  DispatcherBook book{GameService()};
  book.Issue("tok", "key");
  const auto access_request = [](const std::string& token, const std::string& key) {
    return R"({"action":"request_accesstoken","client_version":1,"token":")" + token +
           R"(","try_count":1,"zuc_key_value":")" + key + R"("})";
  };
  const auto game_request = [](const std::string& access_token, const std::string& io_touch) {
    return R"({"access_token":")" + access_token +
           R"(","action":"request_gameservice","audio_profile":2,"client_version":1,"env":{},)"
           R"("io_gamepad":1,"io_keyboard":1,"io_mouse":1,"io_sensor":0,"io_touch":)" +
           io_touch + R"(,"try_count":1,"video_profile":0,"yuv_itu_r_bt":709})";
  };
  picojson::value granted;
  ASSERT_EQ(CodeOf(json::CheckEnvelope(
                book.Answer("request_accesstoken", access_request("tok", "key")), granted)),
            WS_SUCCESS);
  const std::string access = granted.get("access_token").to_str();
  const uint32_t kMalformed = WS_ERROR_SERVER_ERROR;           // result 1
  const uint32_t kNotIssued = WS_ERROR_SERVER_RESULT_2_5_6_7;  // result 2
  const std::string token_request =
      R"({"action":"request_token","client_version":1,"gameid":"g","try_count":1})";
  const std::tuple<const char*, std::string, uint32_t> rows[] = {
      {"request_token", token_request, WS_SUCCESS},
      {"request_gameservice", game_request(access, "1"), WS_SUCCESS},
      {"request_accesstoken", access_request("tok", "other"), kNotIssued},
      {"request_gameservice", game_request("tok", "1"), kNotIssued},
      {"request_gameservice", game_request(access, "\"1\""), kMalformed},
      {"request_token", "not json", kMalformed},
      {"request_token", R"({"action":"request_token","client_version":1,"try_count":1})",
       kMalformed},
      {"request_accesstoken", token_request, kMalformed},
      {"request_token", R"({"action":"request_token","client_version":1e999})", kMalformed},
  };
  for (const auto& [action, body, expected] : rows) {
    const std::string answer = book.Answer(action, body);
    picojson::value parsed;
    EXPECT_EQ(CodeOf(json::CheckEnvelope(answer, parsed)).GetValue(), expected) << body << "\n" << answer;
  }
}

}  // namespace
}  // namespace tools
}  // namespace vanta
