/* The Windows DLL as a program built with another compiler sees it: loaded
 * with LoadLibrary, its C functions found by their plain names with
 * GetProcAddress; no import library and no C++. Negotiates with a
 * dispatcher, prints the service and the run report, then cancels a second
 * run from its state handler.
 *
 *   load_dll <path of VantaWebService.dll> <dispatcher base address>
 *
 * Exit status 0 when both runs end as they should, 1 otherwise, 2 when the
 * DLL or one of its functions cannot be found. */
#include <stdio.h>
#include <vanta/vanta.h>
#include <windows.h>

typedef const char* (*version_fn)(void);
typedef const char* (*name_fn)(uint32_t);
typedef const char* (*step_name_fn)(int);
typedef vanta_accessor* (*new_fn)(void);
typedef void (*handle_fn)(vanta_accessor*);
typedef uint32_t (*code_fn)(vanta_accessor*);
typedef uint32_t (*initialize_fn)(vanta_accessor*, const vanta_config*);
typedef uint32_t (*switch_fn)(vanta_accessor*, int);
typedef uint32_t (*state_handler_fn)(vanta_accessor*, vanta_state_handler, void*);
typedef int (*wait_fn)(vanta_accessor*, int, uint32_t*);
typedef uint32_t (*service_fn)(const vanta_accessor*, vanta_service*);
typedef uint32_t (*count_fn)(vanta_accessor*, int*);
typedef uint32_t (*step_fn)(vanta_accessor*, int, vanta_step_report*, vanta_exchange_report*);

typedef void (*any_fn)(void);

static HMODULE dll;
static int missing;

/* The function's address, or NULL (and a message) when the DLL lacks it. */
static any_fn find(const char* name) {
  FARPROC address = GetProcAddress(dll, name);
  if (address == NULL) {
    fprintf(stderr, "%s: not exported\n", name);
    missing = 1;
  }
  return (any_fn)address;
}

static handle_fn cancel;
static void cancel_at_game_service(int state, void* context) {
  if (state == VANTA_STATE_REQUEST_GAMESERVICE) cancel((vanta_accessor*)context);
}

int main(int argc, char** argv) {
  version_fn version;
  name_fn code_name;
  step_name_fn step_name;
  new_fn accessor_new;
  handle_fn accessor_free;
  initialize_fn initialize;
  switch_fn register_device_id;
  state_handler_fn set_state_handler;
  code_fn start;
  wait_fn wait_for;
  service_fn get_service;
  count_fn report_count;
  step_fn report_step;
  vanta_config config = {.size = sizeof(vanta_config)};
  vanta_service service = {.size = sizeof(vanta_service)};
  vanta_accessor* a;
  uint32_t first = VANTA_WS_ERROR_FAILED, second = VANTA_WS_ERROR_FAILED;
  int run, count = 0, i;
  if (argc != 3) {
    fprintf(stderr, "usage: %s <VantaWebService.dll> <dispatcher base address>\n", argv[0]);
    return 2;
  }
  dll = LoadLibraryA(argv[1]);
  if (dll == NULL) {
    fprintf(stderr, "LoadLibrary(%s) failed: %lu\n", argv[1], (unsigned long)GetLastError());
    return 2;
  }
  version = (version_fn)find("vanta_version");
  code_name = (name_fn)find("vanta_code_name");
  step_name = (step_name_fn)find("vanta_step_name");
  accessor_new = (new_fn)find("vanta_accessor_new");
  accessor_free = (handle_fn)find("vanta_accessor_free");
  initialize = (initialize_fn)find("vanta_accessor_initialize");
  register_device_id = (switch_fn)find("vanta_accessor_set_register_device_id");
  set_state_handler = (state_handler_fn)find("vanta_accessor_set_state_handler");
  start = (code_fn)find("vanta_accessor_start");
  cancel = (handle_fn)find("vanta_accessor_cancel");
  wait_for = (wait_fn)find("vanta_accessor_wait");
  get_service = (service_fn)find("vanta_accessor_service");
  report_count = (count_fn)find("vanta_accessor_report_count");
  report_step = (step_fn)find("vanta_accessor_report_step");
  if (missing) return 2;

  printf("VantaWebService %s\n", version());
  config.client_version = 1;
  config.token = "";
  config.arbiter_base_url = argv[2];
  config.audio_profile = 2;
  config.gameid = "dll-game";
  config.request_token_first = 1;
  config.zuc_key_value = "";
  config.yuv_itu_r_bt = 709;
  a = accessor_new();
  if (a == NULL) return 1;
  register_device_id(a, 0);
  for (run = 0; run < 2; ++run) {
    uint32_t* result = run == 0 ? &first : &second;
    /* The second run is cancelled as it asks for the game service. */
    if (run == 1) set_state_handler(a, cancel_at_game_service, a);
    if (VANTA_FAILED(initialize(a, &config)) || VANTA_FAILED(start(a))) break;
    wait_for(a, -1, result);
    printf("run %d: %s\n", run + 1, code_name(*result));
    if (run == 0 && !VANTA_FAILED(get_service(a, &service))) {
      printf("game service %s [%s] ports %d/%d/%d/%d, %d video levels\n", service.ipv4,
             service.ipv6, service.control_port, service.video_port, service.audio_port,
             service.input_port, service.quality[1]);
    }
    report_count(a, &count);
    for (i = 0; i < count; ++i) {
      vanta_step_report step = {.size = sizeof(vanta_step_report)};
      vanta_exchange_report last = {.size = sizeof(vanta_exchange_report)};
      if (VANTA_FAILED(report_step(a, i, &step, &last))) break;
      printf("  %s: %s, HTTP %d\n", step_name(step.step), code_name(step.code), last.http_status);
    }
  }
  accessor_free(a);
  FreeLibrary(dll);
  return first == VANTA_WS_SUCCESS && second == VANTA_WS_ERROR_ABORTED ? 0 : 1;
}
