// The C interface's argument checks: each bad argument gives
// WS_ERROR_FAILED (or its documented stand-in), never a crash; a struct of
// exactly its first release's size is accepted. What the calls do with good
// arguments is the C++ classes' behaviour, checked end to end by the C
// example and the ctypes check.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "tests/support/LocalPeer.h"
#include "tests/support/TestEnv.h"
#include "vanta/vanta.h"

namespace vanta {
namespace {

using testing::Eventually;

// A state handler that holds the run in its first state until released.
struct Hold {
  std::atomic<bool> reached{false}, release{false};
  static void OnState(int, void* context) {
    Hold* hold = static_cast<Hold*>(context);
    hold->reached = true;
    Eventually([hold] { return hold->release.load(); });
  }
};

TEST(CInterfaceTest, BadArgumentsGiveAFailureCode) {
  // Nothing listens there: requests with good arguments fail at once.
  const std::string closed =
      "http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort()) + "/dispatcher/";
  vanta_config config = {};
  config.size = sizeof(config);
  config.token = config.zuc_key_value = "";
  config.arbiter_base_url = closed.c_str();
  config.gameid = "game";
  vanta_accessor* a = vanta_accessor_new();
  vanta_web_service* w = vanta_web_service_new();
  ASSERT_TRUE(a != nullptr && w != nullptr);
  ASSERT_EQ(vanta_web_service_initialize(w), VANTA_WS_SUCCESS);
  ASSERT_EQ(vanta_web_service_set_arbiter_base(w, closed.c_str()), VANTA_WS_SUCCESS);
  // A run held in its first state, for the calls that need none going, and
  // one that has ended with its report (its retry waits return at once).
  testing::TestEnv env;
  Hold hold;
  vanta_accessor* running = vanta_accessor_new();
  vanta_accessor* ended = vanta_accessor_new();
  for (vanta_accessor* run : {running, ended}) {
    ASSERT_NE(run, nullptr);
    ASSERT_EQ(vanta_accessor_set_register_device_id(run, 0), VANTA_WS_SUCCESS);
    if (run == running) vanta_accessor_set_state_handler(run, &Hold::OnState, &hold);
    ASSERT_EQ(vanta_accessor_initialize(run, &config), VANTA_WS_SUCCESS);
    ASSERT_EQ(vanta_accessor_start(run), VANTA_WS_SUCCESS);
  }
  ASSERT_TRUE(Eventually([&] { return hold.reached.load(); }));
  ASSERT_EQ(vanta_accessor_wait(ended, -1, nullptr), 1);
  int steps = 0;
  ASSERT_EQ(vanta_accessor_report_count(ended, &steps), VANTA_WS_SUCCESS);
  ASSERT_GT(steps, 0);

  // Each struct at exactly its first release's size, and bad variants.
  vanta_config no_size = config, short_config = config, long_config = config;
  no_size.size = 0;
  --short_config.size;
  long_config.size += 16;
  vanta_service service = {}, short_service = {};
  service.size = sizeof(service);
  short_service.size = sizeof(service) - 1;
  vanta_step_report step = {}, short_step = {};
  step.size = sizeof(step);
  short_step.size = sizeof(step) - 1;
  vanta_exchange_report exchange = {}, short_exchange = {};
  exchange.size = sizeof(exchange);
  short_exchange.size = sizeof(exchange) - 1;
  static const char* const kKey = "k";
  static const char* const kNoValue = nullptr;
  vanta_game_service_request request = {};
  request.size = sizeof(request);
  request.access_token = "a";
  vanta_game_service_request short_request = request, no_token = request, negative = request,
                             no_keys = request, no_values = request, no_value = request,
                             with_env = request;
  --short_request.size;
  no_token.access_token = nullptr;
  negative.env_count = -1;
  negative.env_keys = negative.env_values = &kKey;
  no_keys.env_count = no_values.env_count = no_value.env_count = with_env.env_count = 1;
  no_keys.env_values = no_values.env_keys = no_value.env_keys = &kKey;
  no_value.env_values = &kNoValue;
  with_env.env_keys = with_env.env_values = &kKey;
  const char* text = nullptr;
  int count = 0;
  const uint32_t ok = VANTA_WS_SUCCESS, failed = VANTA_WS_ERROR_FAILED;
  const uint32_t refused = VANTA_WS_ERROR_CONNECT_FAILED;  // good arguments
  struct Row {
    const char* name;
    uint32_t got;
    uint32_t expected;
  };
  // Evaluated in this order.
  const Row rows[] = {
      {"initialize: no handle", vanta_accessor_initialize(nullptr, &config), failed},
      {"initialize: no config", vanta_accessor_initialize(a, nullptr), failed},
      {"initialize: size 0", vanta_accessor_initialize(a, &no_size), failed},
      {"initialize: size one short", vanta_accessor_initialize(a, &short_config), failed},
      {"initialize: exact size", vanta_accessor_initialize(a, &config), ok},
      {"initialize: a later release's size", vanta_accessor_initialize(a, &long_config), ok},
      {"initialize: during a run", vanta_accessor_initialize(running, &config), failed},
      {"set_env: no handle", vanta_accessor_set_env(nullptr, "k", "v"), failed},
      {"set_env: no key", vanta_accessor_set_env(a, nullptr, "v"), failed},
      {"set_env: during a run", vanta_accessor_set_env(running, "k", "v"), failed},
      {"state handler: no handle", vanta_accessor_set_state_handler(nullptr, nullptr, a), failed},
      {"state handler: during a run", vanta_accessor_set_state_handler(running, nullptr, a),
       failed},
      {"register switch: no handle", vanta_accessor_set_register_device_id(nullptr, 1), failed},
      {"register switch: during a run", vanta_accessor_set_register_device_id(running, 1), failed},
      {"web API origin: no handle", vanta_accessor_set_web_api_origin(nullptr, ""), failed},
      {"web API origin: no text", vanta_accessor_set_web_api_origin(a, nullptr), failed},
      {"web API origin: during a run", vanta_accessor_set_web_api_origin(running, ""), failed},
      {"start: no handle", vanta_accessor_start(nullptr), failed},
      {"service: no handle", vanta_accessor_service(nullptr, &service), failed},
      {"service: no output", vanta_accessor_service(a, nullptr), failed},
      {"service: size one short", vanta_accessor_service(a, &short_service), failed},
      {"service: exact size", vanta_accessor_service(a, &service), ok},
      {"service: during a run", vanta_accessor_service(running, &service), failed},
      {"report count: no handle", vanta_accessor_report_count(nullptr, &count), failed},
      {"report count: no output", vanta_accessor_report_count(a, nullptr), failed},
      {"report count: during a run", vanta_accessor_report_count(running, &count), failed},
      {"report step: no handle", vanta_accessor_report_step(nullptr, 0, &step, nullptr), failed},
      {"report step: no step", vanta_accessor_report_step(ended, 0, nullptr, nullptr), failed},
      {"report step: step one short", vanta_accessor_report_step(ended, 0, &short_step, nullptr),
       failed},
      {"report step: exchange one short",
       vanta_accessor_report_step(ended, 0, &step, &short_exchange), failed},
      {"report step: exact sizes", vanta_accessor_report_step(ended, 0, &step, &exchange), ok},
      {"report step: no exchange wanted", vanta_accessor_report_step(ended, 0, &step, nullptr), ok},
      {"report step: index -1", vanta_accessor_report_step(ended, -1, &step, nullptr), failed},
      {"report step: past the end", vanta_accessor_report_step(ended, steps, &step, nullptr),
       failed},
      {"report step: empty report", vanta_accessor_report_step(a, 0, &step, &exchange), failed},
      {"report step: during a run", vanta_accessor_report_step(running, 0, &step, nullptr), failed},
      // The web service.
      {"initialize: no web service", vanta_web_service_initialize(nullptr), failed},
      {"arbiter base: no handle", vanta_web_service_set_arbiter_base(nullptr, ""), failed},
      {"arbiter base: no text", vanta_web_service_set_arbiter_base(w, nullptr), failed},
      {"monitor: no handle", vanta_web_service_monitor_put(nullptr, 1, 0, 0, 0, 0, "", 1), failed},
      {"monitor: no remote address", vanta_web_service_monitor_put(w, 1, 0, 0, 0, 0, nullptr, 1),
       failed},
      {"token: no handle", vanta_web_service_request_token(nullptr, 1, "g", 1, &text, &text),
       failed},
      {"token: no game", vanta_web_service_request_token(w, 1, nullptr, 1, &text, &text), failed},
      {"token: no token output", vanta_web_service_request_token(w, 1, "g", 1, nullptr, &text),
       failed},
      {"token: no key output", vanta_web_service_request_token(w, 1, "g", 1, &text, nullptr),
       failed},
      {"token: good arguments", vanta_web_service_request_token(w, 1, "g", 1, &text, &text),
       refused},
      {"access token: no handle",
       vanta_web_service_request_access_token(nullptr, 1, "t", "k", 1, &text), failed},
      {"access token: no token",
       vanta_web_service_request_access_token(w, 1, nullptr, "k", 1, &text), failed},
      {"access token: no output",
       vanta_web_service_request_access_token(w, 1, "t", "k", 1, nullptr), failed},
      {"game: no handle", vanta_web_service_request_game_service(nullptr, &request, &service),
       failed},
      {"game: no request", vanta_web_service_request_game_service(w, nullptr, &service), failed},
      {"game: request one short",
       vanta_web_service_request_game_service(w, &short_request, &service), failed},
      {"game: no access token", vanta_web_service_request_game_service(w, &no_token, &service),
       failed},
      {"game: negative env count", vanta_web_service_request_game_service(w, &negative, &service),
       failed},
      {"game: env without keys", vanta_web_service_request_game_service(w, &no_keys, &service),
       failed},
      {"game: env without values", vanta_web_service_request_game_service(w, &no_values, &service),
       failed},
      {"game: a NULL env value", vanta_web_service_request_game_service(w, &no_value, &service),
       failed},
      {"game: no output", vanta_web_service_request_game_service(w, &request, nullptr), failed},
      {"game: output one short",
       vanta_web_service_request_game_service(w, &request, &short_service), failed},
      {"game: exact sizes, an env entry",
       vanta_web_service_request_game_service(w, &with_env, &service), refused},
      {"last exchange: no handle", vanta_web_service_last_exchange(nullptr, &exchange), failed},
      {"last exchange: no output", vanta_web_service_last_exchange(w, nullptr), failed},
      {"last exchange: one short", vanta_web_service_last_exchange(w, &short_exchange), failed},
      {"last exchange: exact size", vanta_web_service_last_exchange(w, &exchange), ok},
  };
  for (const Row& row : rows) {
    EXPECT_STREQ(vanta_code_name(row.got), vanta_code_name(row.expected)) << row.name;
  }
  // No handle: the wait has ended with a failure, there is no state.
  uint32_t result = 0;
  EXPECT_EQ(vanta_accessor_wait(nullptr, -1, &result), 1);
  EXPECT_EQ(result, failed);
  EXPECT_EQ(vanta_accessor_state(nullptr), -1);
  EXPECT_STREQ(vanta_code_name(0x80000000u), "unknown");
  EXPECT_STREQ(vanta_step_name(-1), "unknown");
  EXPECT_STREQ(vanta_step_name(VANTA_STEP_KEY_FILE), "key file");
  EXPECT_STREQ(vanta_step_name(VANTA_STEP_KEY_FILE + 1), "unknown");
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
  for (vanta_accessor* handle : {running, ended, a}) vanta_accessor_free(handle);
  vanta_web_service_free(w);
}

}  // namespace
}  // namespace vanta
