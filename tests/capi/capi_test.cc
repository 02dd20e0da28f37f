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

// t with its size member set to its first release's size plus delta: -1 one
// byte short, 16 from a later release. Rows set each size they use.
template <typename T>
T* Size(T& t, int delta) {
  t.size = static_cast<uint32_t>(sizeof(T) + delta);
  return &t;
}

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
  config.token = config.zuc_key_value = "";
  config.arbiter_base_url = closed.c_str();
  config.gameid = "game";
  config.size = sizeof(config);
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

  vanta_service service = {};
  vanta_step_report step = {};
  vanta_exchange_report exchange = {};
  vanta_game_service_request request = {}, no_token = {};
  request.access_token = "a";
  static const char* const kEntry[] = {"k", nullptr};  // "k" as key or value, then none
  // The request with these "env" entries.
  auto with_env = [&](int count, const char* const* keys, const char* const* values) {
    request.env_count = count;
    request.env_keys = keys;
    request.env_values = values;
    return Size(request, 0);
  };
  auto game = [&](const vanta_game_service_request* r, vanta_service* out) {
    return vanta_web_service_request_game_service(w, r, out);
  };
  const char* out = nullptr;
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
      {"init: one short", vanta_accessor_initialize(a, Size(config, -1)), failed},
      {"init: a later size", vanta_accessor_initialize(a, Size(config, 16)), ok},
      {"init: exact size", vanta_accessor_initialize(a, Size(config, 0)), ok},
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
      {"service: no handle", vanta_accessor_service(nullptr, Size(service, 0)), failed},
      {"service: no output", vanta_accessor_service(a, nullptr), failed},
      {"service: one short", vanta_accessor_service(a, Size(service, -1)), failed},
      {"service: exact size", vanta_accessor_service(a, Size(service, 0)), ok},
      {"service: running", vanta_accessor_service(running, &service), failed},
      {"progress: no handle", vanta_accessor_progress(nullptr, &count, &count), failed},
      {"progress: no attempt", vanta_accessor_progress(a, &count, nullptr), failed},
      {"progress: running", vanta_accessor_progress(running, &count, &count), ok},
      {"count: no handle", vanta_accessor_report_count(nullptr, &count), failed},
      {"count: no output", vanta_accessor_report_count(a, nullptr), failed},
      {"count: running", vanta_accessor_report_count(running, &count), failed},
      {"step: no handle", vanta_accessor_report_step(nullptr, 0, Size(step, 0), 0), failed},
      {"step: no step", vanta_accessor_report_step(ended, 0, nullptr, nullptr), failed},
      {"step: exact sizes", vanta_accessor_report_step(ended, 0, &step, Size(exchange, 0)), ok},
      {"step: last short", vanta_accessor_report_step(ended, 0, &step, Size(exchange, -1)), failed},
      {"step: one short", vanta_accessor_report_step(ended, 0, Size(step, -1), 0), failed},
      {"step: no last", vanta_accessor_report_step(ended, 0, Size(step, 0), nullptr), ok},
      {"step: index -1", vanta_accessor_report_step(ended, -1, &step, nullptr), failed},
      {"step: past the end", vanta_accessor_report_step(ended, steps, &step, nullptr), failed},
      {"step: running", vanta_accessor_report_step(running, 0, &step, nullptr), failed},
      // The web service.
      {"init: no service", vanta_web_service_initialize(nullptr), failed},
      {"base: no handle", vanta_web_service_set_arbiter_base(nullptr, ""), failed},
      {"base: no text", vanta_web_service_set_arbiter_base(w, nullptr), failed},
      {"monitor: no handle", vanta_web_service_monitor_put(nullptr, 1, 0, 0, 0, 0, "", 1), failed},
      {"monitor: no address", vanta_web_service_monitor_put(w, 1, 0, 0, 0, 0, nullptr, 1), failed},
      {"token: no handle", vanta_web_service_request_token(0, 1, "g", 1, &out, &out), failed},
      {"token: no game", vanta_web_service_request_token(w, 1, nullptr, 1, &out, &out), failed},
      {"token: no token out", vanta_web_service_request_token(w, 1, "g", 1, 0, &out), failed},
      {"token: no key out", vanta_web_service_request_token(w, 1, "g", 1, &out, 0), failed},
      {"token: good", vanta_web_service_request_token(w, 1, "g", 1, &out, &out), refused},
      {"access: no handle", vanta_web_service_request_access_token(0, 1, "t", "", 1, &out), failed},
      {"access: no token", vanta_web_service_request_access_token(w, 1, 0, "", 1, &out), failed},
      {"access: no output", vanta_web_service_request_access_token(w, 1, "t", "", 1, 0), failed},
      {"game: no request", game(0, &service), failed},
      {"game: one short", game(Size(request, -1), &service), failed},
      {"game: no token", game(Size(no_token, 0), &service), failed},
      {"game: env count -1", game(with_env(-1, kEntry, kEntry), &service), failed},
      {"game: no keys", game(with_env(1, 0, kEntry), &service), failed},
      {"game: no values", game(with_env(1, kEntry, 0), &service), failed},
      {"game: NULL value", game(with_env(1, kEntry, kEntry + 1), &service), failed},
      {"game: no output", game(with_env(1, kEntry, kEntry), 0), failed},
      {"game: out short", game(&request, Size(service, -1)), failed},
      {"game: good", game(&request, Size(service, 0)), refused},
      {"game: no handle", vanta_web_service_request_game_service(0, &request, &service), failed},
      {"last: no handle", vanta_web_service_last_exchange(nullptr, Size(exchange, 0)), failed},
      {"last: no output", vanta_web_service_last_exchange(w, nullptr), failed},
      {"last: one short", vanta_web_service_last_exchange(w, Size(exchange, -1)), failed},
      {"last: exact size", vanta_web_service_last_exchange(w, Size(exchange, 0)), ok},
  };
  for (const Row& row : rows) {
    EXPECT_STREQ(vanta_code_name(row.got), vanta_code_name(row.expected)) << row.name;
  }
  // No handle: the wait has ended with a failure, there is no state.
  uint32_t result = 0;
  EXPECT_EQ(vanta_accessor_wait(nullptr, -1, &result), 1);
  EXPECT_EQ(result, failed);
  EXPECT_EQ(vanta_accessor_state(nullptr), -1);
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
