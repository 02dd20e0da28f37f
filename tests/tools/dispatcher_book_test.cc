#include "tools/dispatcher_book.h"

#include <gtest/gtest.h>

#include <string>

#include "messages/Json.h"
#include "tools/describe_code.h"
#include "tools/fault_plan.h"
#include "tools/key_value.h"
#include "vanta/WebService.h"

namespace vanta {
namespace tools {
namespace {

// The library's own check of a dispatcher answer: 0 for ok, the mapped code
// of "result" for a refusal, WS_ERROR_BAD_RESPONSE for an answer that breaks
// the message rules.
uint32_t Checked(const std::string& answer) {
  picojson::value parsed;
  return json::CheckEnvelope(answer, parsed).GetValue();
}

std::string Member(const std::string& answer, const std::string& key) {
  picojson::value parsed;
  json::ParseObject(answer, parsed);
  const std::string* text = json::Find<std::string>(parsed.get<picojson::object>(), key);
  return text != nullptr ? *text : "";
}

TEST(DispatcherBookTest, AcceptsOnlyWhatItIssued) {
  DispatcherBook book{GameService()};
  std::string issued =
      book.Answer("request_token", R"({"action":"request_token","client_version":1,)"
                                   R"("gameid":"game-7","try_count":1})");
  ASSERT_EQ(Checked(issued), WS_SUCCESS) << issued;
  std::string token = Member(issued, "token");
  std::string key = Member(issued, "zuc_key_value");
  ASSERT_FALSE(token.empty());
  ASSERT_FALSE(key.empty());
  std::string granted = book.Answer(
      "request_accesstoken", R"({"action":"request_accesstoken","client_version":1,"token":")" +
                                 token + R"(","try_count":1,"zuc_key_value":")" + key + R"("})");
  ASSERT_EQ(Checked(granted), WS_SUCCESS) << granted;
  std::string access = Member(granted, "access_token");
  const std::string gameservice_tail =
      R"(","action":"request_gameservice","audio_profile":2,"client_version":1,"env":{"a":"1"},)"
      R"("io_gamepad":1,"io_keyboard":1,"io_mouse":1,"io_sensor":0,"io_touch":1,"try_count":1,)"
      R"("video_profile":0,"yuv_itu_r_bt":709})";
  std::string service =
      book.Answer("request_gameservice", R"({"access_token":")" + access + gameservice_tail);
  ASSERT_EQ(Checked(service), WS_SUCCESS) << service;
  EXPECT_EQ(Member(service, "gameid"), "game-7") << "the game of the token comes back";

  struct Row {
    const char* action;
    std::string body;
    uint32_t expected;
  };
  const uint32_t kMalformed = WS_ERROR_SERVER_ERROR;           // result 1
  const uint32_t kNotIssued = WS_ERROR_SERVER_RESULT_2_5_6_7;  // result 2
  const Row rows[] = {
      {"request_accesstoken",
       R"({"action":"request_accesstoken","client_version":1,"token":")" + token +
           R"(","try_count":1,"zuc_key_value":"other"})",
       kNotIssued},
      {"request_accesstoken",
       R"({"action":"request_accesstoken","client_version":1,"token":"unknown",)"
       R"("try_count":1,"zuc_key_value":")" +
           key + R"("})",
       kNotIssued},
      {"request_gameservice", R"({"access_token":")" + token + gameservice_tail, kNotIssued},
      {"request_gameservice",
       R"({"access_token":")" + access + gameservice_tail.substr(0, 60) + R"(1}})", kMalformed},
      {"request_token", "not json", kMalformed},
      {"request_token", "[]", kMalformed},
      {"request_token", R"({"action":"request_token","client_version":1,"try_count":1})",
       kMalformed},
      {"request_accesstoken",
       R"({"action":"request_token","client_version":1,"gameid":"x","try_count":1})", kMalformed},
      {"request_token", R"({"action":"request_token","client_version":1e999})", kMalformed},
  };
  for (const Row& row : rows) {
    std::string answer = book.Answer(row.action, row.body);
    EXPECT_EQ(Checked(answer), row.expected) << row.action << " " << row.body << "\n" << answer;
  }
}

TEST(FaultPlanTest, FaultsHitTheFirstRequestsOfTheirAction) {
  FaultPlan plan({"a", "b"});
  std::string error;
  ASSERT_TRUE(plan.Add(FaultKind::kRefuse, "a=10", &error)) << error;
  ASSERT_TRUE(plan.Add(FaultKind::kDelay, "a=5", &error)) << error;
  ASSERT_TRUE(plan.Add(FaultKind::kHttpStatus, "b=503", &error)) << error;
  plan.SetCount(2);
  for (int i = 0; i < 2; ++i) {
    Fault a = plan.Take("a");
    EXPECT_TRUE(a.refuse && a.refuse_result == 10 && a.delay_ms == 5 && a.http_status == 0);
  }
  EXPECT_FALSE(plan.Take("a").Any()) << "used up after two requests";
  EXPECT_EQ(plan.Take("b").http_status, 503) << "each action counts on its own";
  EXPECT_FALSE(plan.Take("c").Any());

  struct Row {
    FaultKind kind;
    const char* entry;
  };
  const Row refused[] = {
      {FaultKind::kRefuse, "c=1"},       {FaultKind::kRefuse, "a"},
      {FaultKind::kRefuse, "=1"},        {FaultKind::kRefuse, "a=1x"},
      {FaultKind::kRefuse, "a= 1"},      {FaultKind::kRefuse, "a=99999999999"},
      {FaultKind::kHttpStatus, "a=399"}, {FaultKind::kHttpStatus, "a=600"},
      {FaultKind::kDelay, "a=-1"},       {FaultKind::kDelay, "a=600001"},
  };
  for (const Row& row : refused) {
    FaultPlan fresh({"a"});
    error.clear();
    EXPECT_FALSE(fresh.Add(row.kind, row.entry, &error)) << row.entry;
    EXPECT_FALSE(error.empty()) << row.entry;
    EXPECT_FALSE(fresh.Take("a").Any()) << row.entry << " must leave no fault behind";
  }
}

TEST(DescribeCodeTest, HexAndName) {
  const std::pair<uint32_t, const char*> rows[] = {
      {WS_SUCCESS, "0x00000000 WS_SUCCESS"},
      {WS_ERROR_SERVER_RESULT_10, "0xAC40C811 WS_ERROR_SERVER_RESULT_10"},
      {WS_ERROR_THREAD_INITIALIZE, "0x84E89007 WS_ERROR_THREAD_INITIALIZE"},
      {WS_ERROR_THREAD_START, "0xA6788C01 WS_ERROR_THREAD_START"},
      {0xAC40C803u, "0xAC40C803"},  // inside the family, but unused
      {0x1u, "0x00000001"},
  };
  for (const auto& [code, text] : rows) EXPECT_EQ(DescribeCode(code), text);
}

}  // namespace
}  // namespace tools
}  // namespace vanta
