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
  auto with_env = [&](int count, const char* const* keys, const char* const* values) {
    vanta_game_service_request r = request;
    r.env_count = count;
    r.env_keys = keys;
    r.env_values = values;
    return r;
  };
  vanta_game_service_request short_request = request, no_token = request;
  --short_request.size;
  no_token.access_token = nullptr;
  vanta_game_service_request negative = with_env(-1, &kKey, &kKey), no_keys = with_env(1, 0, &kKey),
                             no_values = with_env(1, &kKey, 0),
                             no_value = with_env(1, &kKey, &kNoValue),
                             good = with_env(1, &kKey, &kKey);
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
      {"init: no handle", vanta_accessor_initialize(nullptr, &config), failed},
      {"init: no config", vanta_accessor_initialize(a, nullptr), failed},
      {"init: size 0", vanta_accessor_initialize(a, &no_size), failed},
      {"init: one short", vanta_accessor_initialize(a, &short_config), failed},
      {"init: exact size", vanta_accessor_initialize(a, &config), ok},
      {"init: a later size", vanta_accessor_initialize(a, &long_config), ok},
      {"init: running", vanta_accessor_initialize(running, &config), failed},
      {"env: no handle", vanta_accessor_set_env(nullptr, "k", "v"), failed},
      {"env: no key", vanta_accessor_set_env(a, nullptr, "v"), failed},
      {"env: running", vanta_accessor_set_env(running, "k", "v"), failed},
      {"handler: no handle", vanta_accessor_set_state_handler(nullptr, nullptr, a), failed},
      {"handler: running", vanta_accessor_set_state_handler(running, nullptr, a), failed},
      {"register: no handle", vanta_accessor_set_register_device_id(nullptr, 1), failed},
      {"register: running", vanta_accessor_set_register_device_id(running, 1), failed},
      {"origin: no handle", vanta_accessor_set_web_api_origin(nullptr, ""), failed},
      {"origin: no text", vanta_accessor_set_web_api_origin(a, nullptr), failed},
      {"origin: running", vanta_accessor_set_web_api_origin(running, ""), failed},
      {"start: no handle", vanta_accessor_start(nullptr), failed},
      {"service: no handle", vanta_accessor_service(nullptr, &service), failed},
      {"service: no output", vanta_accessor_service(a, nullptr), failed},
      {"service: one short", vanta_accessor_service(a, &short_service), failed},
      {"service: exact size", vanta_accessor_service(a, &service), ok},
      {"service: running", vanta_accessor_service(running, &service), failed},
      {"count: no handle", vanta_accessor_report_count(nullptr, &count), failed},
      {"count: no output", vanta_accessor_report_count(a, nullptr), failed},
      {"count: running", vanta_accessor_report_count(running, &count), failed},
      {"step: no handle", vanta_accessor_report_step(nullptr, 0, &step, nullptr), failed},
      {"step: no step", vanta_accessor_report_step(ended, 0, nullptr, nullptr), failed},
      {"step: one short", vanta_accessor_report_step(ended, 0, &short_step, nullptr), failed},
      {"step: exchange short", vanta_accessor_report_step(ended, 0, &step, &short_exchange),
       failed},
      {"step: exact sizes", vanta_accessor_report_step(ended, 0, &step, &exchange), ok},
      {"step: no exchange", vanta_accessor_report_step(ended, 0, &step, nullptr), ok},
      {"step: index -1", vanta_accessor_report_step(ended, -1, &step, nullptr), failed},
      {"step: past the end", vanta_accessor_report_step(ended, steps, &step, nullptr), failed},
      {"step: empty report", vanta_accessor_report_step(a, 0, &step, &exchange), failed},
      {"step: running", vanta_accessor_report_step(running, 0, &step, nullptr), failed},
      // The web service.
      {"init: no service", vanta_web_service_initialize(nullptr), failed},
      {"base: no handle", vanta_web_service_set_arbiter_base(nullptr, ""), failed},
      {"base: no text", vanta_web_service_set_arbiter_base(w, nullptr), failed},
      {"monitor: no handle", vanta_web_service_monitor_put(nullptr, 1, 0, 0, 0, 0, "", 1), failed},
      {"monitor: no address", vanta_web_service_monitor_put(w, 1, 0, 0, 0, 0, nullptr, 1), failed},
      {"token: no handle", vanta_web_service_request_token(nullptr, 1, "g", 1, &text, &text),
       failed},
      {"token: no game", vanta_web_service_request_token(w, 1, nullptr, 1, &text, &text), failed},
      {"token: no token out", vanta_web_service_request_token(w, 1, "g", 1, nullptr, &text),
       failed},
      {"token: no key out", vanta_web_service_request_token(w, 1, "g", 1, &text, nullptr), failed},
      {"token: good", vanta_web_service_request_token(w, 1, "g", 1, &text, &text), refused},
      {"access: no handle", vanta_web_service_request_access_token(0, 1, "t", "k", 1, &text),
       failed},
      {"access: no token", vanta_web_service_request_access_token(w, 1, 0, "k", 1, &text), failed},
      {"access: no output", vanta_web_service_request_access_token(w, 1, "t", "k", 1, 0), failed},
      {"game: no handle", vanta_web_service_request_game_service(0, &request, &service), failed},
      {"game: no request", vanta_web_service_request_game_service(w, 0, &service), failed},
      {"game: one short", vanta_web_service_request_game_service(w, &short_request, &service),
       failed},
      {"game: no token", vanta_web_service_request_game_service(w, &no_token, &service), failed},
      {"game: env count -1", vanta_web_service_request_game_service(w, &negative, &service),
       failed},
      {"game: no keys", vanta_web_service_request_game_service(w, &no_keys, &service), failed},
      {"game: no values", vanta_web_service_request_game_service(w, &no_values, &service), failed},
      {"game: NULL value", vanta_web_service_request_game_service(w, &no_value, &service), failed},
      {"game: no output", vanta_web_service_request_game_service(w, &request, nullptr), failed},
      {"game: out short", vanta_web_service_request_game_service(w, &request, &short_service),
       failed},
      {"game: good", vanta_web_service_request_game_service(w, &good, &service), refused},
      {"last: no handle", vanta_web_service_last_exchange(nullptr, &exchange), failed},
      {"last: no output", vanta_web_service_last_exchange(w, nullptr), failed},
      {"last: one short", vanta_web_service_last_exchange(w, &short_exchange), failed},
      {"last: exact size", vanta_web_service_last_exchange(w, &exchange), ok},
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
