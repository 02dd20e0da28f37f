// The C interface's argument checks: each bad argument gives
// WS_ERROR_FAILED (or its documented stand-in), never a crash; a struct of
// exactly its first release's size is accepted. What the calls do with good
// arguments is the C++ classes' behaviour, checked end to end by the C
// example and the ctypes check.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>

#include "tests/support/LocalPeer.h"
#include "tests/support/TestEnv.h"
#include "vanta/vanta.h"

namespace vanta {
namespace {

using testing::Eventually;

std::string Code(uint32_t code) { return vanta_code_name(code); }

// A state handler that holds the run in its first state until released.
struct Hold {
  std::atomic<bool> reached{false}, release{false};
  static void OnState(int, void* context) {
    Hold* hold = static_cast<Hold*>(context);
    hold->reached = true;
    Eventually([hold] { return hold->release.load(); });
  }
};

vanta_config GoodConfig(const char* base) {
  vanta_config c = {};
  c.size = sizeof(vanta_config);
  c.token = "";
  c.arbiter_base_url = base;
  c.gameid = "game";
  c.zuc_key_value = "";
  return c;
}

TEST(CInterfaceTest, BadArgumentsGiveAFailureCode) {
  // Nothing listens there: requests with good arguments fail at once.
  const std::string closed_base =
      "http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort()) + "/dispatcher/";
  const char* closed = closed_base.c_str();
  vanta_accessor* a = vanta_accessor_new();
  vanta_accessor* running = vanta_accessor_new();
  vanta_web_service* w = vanta_web_service_new();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(running, nullptr);
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(vanta_web_service_initialize(w), VANTA_WS_SUCCESS);
  ASSERT_EQ(vanta_web_service_set_arbiter_base(w, closed), VANTA_WS_SUCCESS);

  // A run held in its first state, for the calls that need none going.
  Hold hold;
  const vanta_config good = GoodConfig(closed);
  ASSERT_EQ(vanta_accessor_set_register_device_id(running, 0), VANTA_WS_SUCCESS);
  ASSERT_EQ(vanta_accessor_set_state_handler(running, &Hold::OnState, &hold), VANTA_WS_SUCCESS);
  ASSERT_EQ(vanta_accessor_initialize(running, &good), VANTA_WS_SUCCESS);
  ASSERT_EQ(vanta_accessor_start(running), VANTA_WS_SUCCESS);
  ASSERT_TRUE(Eventually([&] { return hold.reached.load(); }));
  // A run that has ended, with its report: its retry waits return at once.
  testing::TestEnv env;
  vanta_accessor* ended = vanta_accessor_new();
  ASSERT_NE(ended, nullptr);
  ASSERT_EQ(vanta_accessor_set_register_device_id(ended, 0), VANTA_WS_SUCCESS);
  ASSERT_EQ(vanta_accessor_initialize(ended, &good), VANTA_WS_SUCCESS);
  ASSERT_EQ(vanta_accessor_start(ended), VANTA_WS_SUCCESS);
  ASSERT_EQ(vanta_accessor_wait(ended, -1, nullptr), 1);
  int steps = 0;
  ASSERT_EQ(vanta_accessor_report_count(ended, &steps), VANTA_WS_SUCCESS);
  ASSERT_GT(steps, 0);

  vanta_config config = good;
  vanta_service service = {};
  vanta_step_report step = {};
  vanta_exchange_report exchange = {};
  vanta_game_service_request request = {};
  const char* text = nullptr;
  const char* key = "k";
  const char* no_value = nullptr;
  int count = 0;
  uint32_t result = 0;
  const size_t config_size = sizeof(vanta_config);
  const size_t service_size = sizeof(vanta_service);
  const size_t request_size = sizeof(vanta_game_service_request);
  // Each row's call sees the structs as reset below, then as its set-up
  // changes them.
  struct Row {
    const char* name;
    std::function<void()> set_up;
    std::function<std::string()> call;
    std::string expected;
  };
  const auto none = [] {};
  const std::string failed = Code(VANTA_WS_ERROR_FAILED);
  const Row rows[] = {
      // The accessor.
      {"initialize: no handle", none,
       [&] { return Code(vanta_accessor_initialize(nullptr, &config)); }, failed},
      {"initialize: no config", none, [&] { return Code(vanta_accessor_initialize(a, nullptr)); },
       failed},
      {"initialize: size 0", [&] { config.size = 0; },
       [&] { return Code(vanta_accessor_initialize(a, &config)); }, failed},
      {"initialize: size one short", [&] { config.size = config_size - 1; },
       [&] { return Code(vanta_accessor_initialize(a, &config)); }, failed},
      {"initialize: exact size", none, [&] { return Code(vanta_accessor_initialize(a, &config)); },
       Code(VANTA_WS_SUCCESS)},
      {"initialize: a later release's size", [&] { config.size = config_size + 16; },
       [&] { return Code(vanta_accessor_initialize(a, &config)); }, Code(VANTA_WS_SUCCESS)},
      {"initialize: during a run", none,
       [&] { return Code(vanta_accessor_initialize(running, &config)); }, failed},
      {"set_env: no handle", none, [&] { return Code(vanta_accessor_set_env(nullptr, "k", "v")); },
       failed},
      {"set_env: no key", none, [&] { return Code(vanta_accessor_set_env(a, nullptr, "v")); },
       failed},
      {"set_env: during a run", none,
       [&] { return Code(vanta_accessor_set_env(running, "k", "v")); }, failed},
      {"set_state_handler: no handle", none,
       [&] { return Code(vanta_accessor_set_state_handler(nullptr, nullptr, nullptr)); }, failed},
      {"set_state_handler: during a run", none,
       [&] { return Code(vanta_accessor_set_state_handler(running, nullptr, nullptr)); }, failed},
      {"set_register_device_id: no handle", none,
       [&] { return Code(vanta_accessor_set_register_device_id(nullptr, 1)); }, failed},
      {"set_register_device_id: during a run", none,
       [&] { return Code(vanta_accessor_set_register_device_id(running, 1)); }, failed},
      {"set_web_api_origin: no handle", none,
       [&] { return Code(vanta_accessor_set_web_api_origin(nullptr, "")); }, failed},
      {"set_web_api_origin: no text", none,
       [&] { return Code(vanta_accessor_set_web_api_origin(a, nullptr)); }, failed},
      {"set_web_api_origin: during a run", none,
       [&] { return Code(vanta_accessor_set_web_api_origin(running, "")); }, failed},
      {"start: no handle", none, [&] { return Code(vanta_accessor_start(nullptr)); }, failed},
      {"wait: no handle ends at once with a failure", none,
       [&] {
         const int ended = vanta_accessor_wait(nullptr, -1, &result);
         return std::to_string(ended) + " " + Code(result);
       },
       "1 " + failed},
      {"state: no handle", none, [&] { return std::to_string(vanta_accessor_state(nullptr)); },
       "-1"},
      {"service: no handle", none, [&] { return Code(vanta_accessor_service(nullptr, &service)); },
       failed},
      {"service: no output", none, [&] { return Code(vanta_accessor_service(a, nullptr)); },
       failed},
      {"service: size one short", [&] { service.size = service_size - 1; },
       [&] { return Code(vanta_accessor_service(a, &service)); }, failed},
      {"service: exact size", none, [&] { return Code(vanta_accessor_service(a, &service)); },
       Code(VANTA_WS_SUCCESS)},
      {"service: during a run", none,
       [&] { return Code(vanta_accessor_service(running, &service)); }, failed},
      {"report_count: no handle", none,
       [&] { return Code(vanta_accessor_report_count(nullptr, &count)); }, failed},
      {"report_count: no output", none,
       [&] { return Code(vanta_accessor_report_count(a, nullptr)); }, failed},
      {"report_count: during a run", none,
       [&] { return Code(vanta_accessor_report_count(running, &count)); }, failed},
      {"report_step: no handle", none,
       [&] { return Code(vanta_accessor_report_step(nullptr, 0, &step, nullptr)); }, failed},
      {"report_step: no step", none,
       [&] { return Code(vanta_accessor_report_step(ended, 0, nullptr, nullptr)); }, failed},
      {"report_step: step size one short", [&] { step.size = sizeof(step) - 1; },
       [&] { return Code(vanta_accessor_report_step(ended, 0, &step, nullptr)); }, failed},
      {"report_step: exchange size one short", [&] { exchange.size = sizeof(exchange) - 1; },
       [&] { return Code(vanta_accessor_report_step(ended, 0, &step, &exchange)); }, failed},
      {"report_step: exact sizes", none,
       [&] { return Code(vanta_accessor_report_step(ended, 0, &step, &exchange)); },
       Code(VANTA_WS_SUCCESS)},
      {"report_step: no exchange wanted", none,
       [&] { return Code(vanta_accessor_report_step(ended, 0, &step, nullptr)); },
       Code(VANTA_WS_SUCCESS)},
      {"report_step: index -1", none,
       [&] { return Code(vanta_accessor_report_step(ended, -1, &step, nullptr)); }, failed},
      {"report_step: index past the end", none,
       [&] { return Code(vanta_accessor_report_step(ended, steps, &step, nullptr)); }, failed},
      {"report_step: index past an empty report", none,
       [&] { return Code(vanta_accessor_report_step(a, 0, &step, &exchange)); }, failed},
      {"report_step: during a run", none,
       [&] { return Code(vanta_accessor_report_step(running, 0, &step, nullptr)); }, failed},
      // The web service.
      {"web service initialize: no handle", none,
       [&] { return Code(vanta_web_service_initialize(nullptr)); }, failed},
      {"set_arbiter_base: no handle", none,
       [&] { return Code(vanta_web_service_set_arbiter_base(nullptr, "")); }, failed},
      {"set_arbiter_base: no text", none,
       [&] { return Code(vanta_web_service_set_arbiter_base(w, nullptr)); }, failed},
      {"monitor_put: no handle", none,
       [&] { return Code(vanta_web_service_monitor_put(nullptr, 1, 0, 0, 0, 0, "", 1)); }, failed},
      {"monitor_put: no remote address", none,
       [&] { return Code(vanta_web_service_monitor_put(w, 1, 0, 0, 0, 0, nullptr, 1)); }, failed},
      {"request_token: no handle", none,
       [&] { return Code(vanta_web_service_request_token(nullptr, 1, "g", 1, &text, &text)); },
       failed},
      {"request_token: no game", none,
       [&] { return Code(vanta_web_service_request_token(w, 1, nullptr, 1, &text, &text)); },
       failed},
      {"request_token: no token output", none,
       [&] { return Code(vanta_web_service_request_token(w, 1, "g", 1, nullptr, &text)); }, failed},
      {"request_token: no key output", none,
       [&] { return Code(vanta_web_service_request_token(w, 1, "g", 1, &text, nullptr)); }, failed},
      {"request_token: good arguments", none,
       [&] { return Code(vanta_web_service_request_token(w, 1, "g", 1, &text, &text)); },
       Code(VANTA_WS_ERROR_CONNECT_FAILED)},
      {"request_access_token: no handle", none,
       [&] { return Code(vanta_web_service_request_access_token(nullptr, 1, "t", "k", 1, &text)); },
       failed},
      {"request_access_token: no token", none,
       [&] { return Code(vanta_web_service_request_access_token(w, 1, nullptr, "k", 1, &text)); },
       failed},
      {"request_access_token: no output", none,
       [&] { return Code(vanta_web_service_request_access_token(w, 1, "t", "k", 1, nullptr)); },
       failed},
      {"request_game_service: no handle", none,
       [&] { return Code(vanta_web_service_request_game_service(nullptr, &request, &service)); },
       failed},
      {"request_game_service: no request", none,
       [&] { return Code(vanta_web_service_request_game_service(w, nullptr, &service)); }, failed},
      {"request_game_service: request size one short", [&] { request.size = request_size - 1; },
       [&] { return Code(vanta_web_service_request_game_service(w, &request, &service)); }, failed},
      {"request_game_service: no access token", [&] { request.access_token = nullptr; },
       [&] { return Code(vanta_web_service_request_game_service(w, &request, &service)); }, failed},
      {"request_game_service: negative env count",
       [&] {
         request.env_count = -1;
         request.env_keys = request.env_values = &key;
       },
       [&] { return Code(vanta_web_service_request_game_service(w, &request, &service)); }, failed},
      {"request_game_service: env count without keys",
       [&] {
         request.env_count = 1;
         request.env_values = &key;
       },
       [&] { return Code(vanta_web_service_request_game_service(w, &request, &service)); }, failed},
      {"request_game_service: env count without values",
       [&] {
         request.env_count = 1;
         request.env_keys = &key;
       },
       [&] { return Code(vanta_web_service_request_game_service(w, &request, &service)); }, failed},
      {"request_game_service: a NULL env value",
       [&] {
         request.env_count = 1;
         request.env_keys = &key;
         request.env_values = &no_value;
       },
       [&] { return Code(vanta_web_service_request_game_service(w, &request, &service)); }, failed},
      {"request_game_service: no output", none,
       [&] { return Code(vanta_web_service_request_game_service(w, &request, nullptr)); }, failed},
      {"request_game_service: output size one short", [&] { service.size = service_size - 1; },
       [&] { return Code(vanta_web_service_request_game_service(w, &request, &service)); }, failed},
      {"request_game_service: exact sizes and an env entry",
       [&] {
         request.env_count = 1;
         request.env_keys = &key;
         request.env_values = &key;
       },
       [&] { return Code(vanta_web_service_request_game_service(w, &request, &service)); },
       Code(VANTA_WS_ERROR_CONNECT_FAILED)},
      {"last_exchange: no handle", none,
       [&] { return Code(vanta_web_service_last_exchange(nullptr, &exchange)); }, failed},
      {"last_exchange: no output", none,
       [&] { return Code(vanta_web_service_last_exchange(w, nullptr)); }, failed},
      {"last_exchange: size one short", [&] { exchange.size = sizeof(exchange) - 1; },
       [&] { return Code(vanta_web_service_last_exchange(w, &exchange)); }, failed},
      {"last_exchange: exact size", none,
       [&] { return Code(vanta_web_service_last_exchange(w, &exchange)); }, Code(VANTA_WS_SUCCESS)},
      // Names.
      {"code name: not a code", none, [] { return std::string(vanta_code_name(0x80000000u)); },
       "unknown"},
      {"step name: below the first", none, [] { return std::string(vanta_step_name(-1)); },
       "unknown"},
      {"step name: the last", none,
       [] { return std::string(vanta_step_name(VANTA_STEP_KEY_FILE)); }, "key file"},
      {"step name: past the last", none,
       [] { return std::string(vanta_step_name(VANTA_STEP_KEY_FILE + 1)); }, "unknown"},
  };
  for (const Row& row : rows) {
    config = good;
    service = {};
    service.size = service_size;
    step = {};
    step.size = sizeof(step);
    exchange = {};
    exchange.size = sizeof(exchange);
    request = {};
    request.size = request_size;
    request.access_token = "a";
    result = 0;
    row.set_up();
    EXPECT_EQ(row.call(), row.expected) << row.name;
  }

  // Releasing NULL, and cancelling or setting the monitor of NULL, are fine.
  vanta_accessor_free(nullptr);
  vanta_web_service_free(nullptr);
  vanta_accessor_cancel(nullptr);
  vanta_web_service_set_monitor_address(nullptr, "http://127.0.0.1:1/");
  vanta_web_service_set_monitor_address(w, nullptr);

  vanta_accessor_cancel(running);
  hold.release = true;
  EXPECT_EQ(vanta_accessor_wait(running, -1, &result), 1);
  EXPECT_EQ(result, VANTA_WS_ERROR_ABORTED);
  vanta_accessor_free(running);
  vanta_accessor_free(ended);
  vanta_accessor_free(a);
  vanta_web_service_free(w);
}

}  // namespace
}  // namespace vanta
