/* Embedding the library from C: run one negotiation in the background,
 * print the negotiated game service and the run report, send one launcher
 * monitor report, then run a second negotiation and cancel it as soon as it
 * asks for the game service.
 *
 *   negotiate <dispatcher base address> <monitor port>
 *
 * Exit status 0 when the first run and the report succeed and the second
 * run ends as cancelled. */
#include <stdio.h>
#include <stdlib.h>
#include <vanta/vanta.h>

static int fail(const char* what, uint32_t code) {
  fprintf(stderr, "%s failed: 0x%08X %s\n", what, (unsigned)code, vanta_code_name(code));
  return 1;
}

/* One line per step of the last run: what it did and what its last
 * exchange said. */
static void print_report(vanta_accessor* a) {
  int count = 0, i;
  if (VANTA_FAILED(vanta_accessor_report_count(a, &count))) return;
  for (i = 0; i < count; ++i) {
    vanta_step_report step = {.size = sizeof(vanta_step_report)};
    vanta_exchange_report last = {.size = sizeof(vanta_exchange_report)};
    if (VANTA_FAILED(vanta_accessor_report_step(a, i, &step, &last))) return;
    printf("  %-12s %s, %d attempt(s)", vanta_step_name(step.step), vanta_code_name(step.code),
           step.attempts);
    if (last.method[0] != '\0')
      printf(": %s %s HTTP %d", last.method, last.address, last.http_status);
    if (last.transport_error[0] != '\0') printf(" (%s)", last.transport_error);
    if (last.server_message[0] != '\0') printf(" \"%s\"", last.server_message);
    printf("%s%s\n", step.detail[0] != '\0' ? ": " : "", step.detail);
  }
}

/* Called on the accessor's worker thread: a user interface would post the
 * state to its own thread. Here it stands in for the player's Cancel
 * button, pressed while the game service is asked for. */
static void cancel_at_game_service(int state, void* context) {
  if (state == VANTA_STATE_REQUEST_GAMESERVICE) vanta_accessor_cancel((vanta_accessor*)context);
}

static int negotiate(vanta_accessor* a, const vanta_config* config, uint32_t* result) {
  uint32_t code = vanta_accessor_initialize(a, config);
  if (VANTA_FAILED(code)) return fail("vanta_accessor_initialize", code);
  code = vanta_accessor_start(a);
  if (VANTA_FAILED(code)) return fail("vanta_accessor_start", code);
  /* Waits without spinning; a UI would rather wait with a short time-out
   * between frames, or watch the state handler. */
  vanta_accessor_wait(a, -1, result);
  return 0;
}

static int monitor_put(int port, const vanta_service* service) {
  char address[64];
  uint32_t code;
  vanta_web_service* w = vanta_web_service_new();
  if (w == NULL) return fail("vanta_web_service_new", VANTA_WS_ERROR_OUT_OF_MEMORY);
  code = vanta_web_service_initialize(w);
  if (!VANTA_FAILED(code)) {
    snprintf(address, sizeof(address), "http://127.0.0.1:%d/monitor/put", port);
    vanta_web_service_set_monitor_address(w, address);
    code = vanta_web_service_monitor_put(w, 1, 0, 0, 0, 12, service->ipv4, service->control_port);
  }
  vanta_web_service_free(w);
  if (VANTA_FAILED(code)) return fail("the monitor report", code);
  printf("monitor report accepted\n");
  return 0;
}

int main(int argc, char** argv) {
  vanta_config config = {.size = sizeof(vanta_config)};
  vanta_service service = {.size = sizeof(vanta_service)};
  vanta_accessor* a;
  uint32_t result = VANTA_WS_ERROR_FAILED;
  int status;
  if (argc != 3) {
    fprintf(stderr, "usage: %s <dispatcher base address> <monitor port>\n", argv[0]);
    return 2;
  }
  printf("VantaWebService %s\n", vanta_version());
  config.client_version = 1;
  config.token = "";
  config.arbiter_base_url = argv[1];
  config.audio_profile = 2;
  config.gameid = "example-game";
  config.request_token_first = 1;
  config.zuc_key_value = "";
  config.io_mouse = config.io_touch = config.io_keyboard = config.io_gamepad = 1;
  config.yuv_itu_r_bt = 709;

  a = vanta_accessor_new();
  if (a == NULL) return fail("vanta_accessor_new", VANTA_WS_ERROR_OUT_OF_MEMORY);
  vanta_accessor_set_env(a, "example", "1");
  vanta_accessor_set_register_device_id(a, 0);
  status = negotiate(a, &config, &result);
  if (status == 0) {
    printf("first run: %s, state %d\n", vanta_code_name(result), vanta_accessor_state(a));
    print_report(a);
    if (VANTA_FAILED(result)) status = fail("the negotiation", result);
  }
  if (status == 0 && !VANTA_FAILED(vanta_accessor_service(a, &service))) {
    printf("game service %s [%s] ports %d/%d/%d/%d, %d video and %d audio quality levels\n",
           service.ipv4, service.ipv6, service.control_port, service.video_port, service.audio_port,
           service.input_port, service.quality[1], service.quality[2]);
    status = monitor_put(atoi(argv[2]), &service);
  }

  if (status == 0) {
    vanta_accessor_set_state_handler(a, cancel_at_game_service, a);
    status = negotiate(a, &config, &result);
  }
  if (status == 0) {
    printf("second run: %s, state %d\n", vanta_code_name(result), vanta_accessor_state(a));
    print_report(a);
    if (result != VANTA_WS_ERROR_ABORTED) status = fail("cancelling the second run", result);
  }
  vanta_accessor_free(a);
  return status;
}
