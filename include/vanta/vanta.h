/* The library's C interface: the negotiation, the launcher monitor report,
 * the dispatcher requests, the trace and the run report, for programs
 * built with any compiler and for other languages (Python ctypes, C#
 * P/Invoke). C99; usable from C++.
 *
 * Every function is exported undecorated from the same library as the C++
 * classes. No C++ type and no exception crosses this interface. A function
 * that can fail returns a result code: VANTA_WS_SUCCESS (0), or a code with
 * bit 31 set. Bad arguments (a NULL handle, config or output, a NULL string
 * where text is needed, a size smaller than this release's struct) give
 * VANTA_WS_ERROR_FAILED, never a crash.
 *
 * Structs carry their size as their first member, set by the caller to
 * sizeof the struct, so that a later release can append members and still
 * serve a program built against this one.
 *
 * Strings the library returns are owned by the handle they came from; the
 * caller never frees them. An accessor's strings stay valid until its next
 * vanta_accessor_initialize or its release; a web service's until the same
 * function is called again on it, or its release. Returned strings are
 * never NULL (an empty string stands for no value).
 *
 * A handle is used from one thread at a time (its owner), except that
 * vanta_accessor_cancel, vanta_accessor_state and vanta_accessor_progress
 * may be called from any thread, the state handler included. A handle is
 * released by its own _free function only. */
#ifndef VANTA_VANTA_H_
#define VANTA_VANTA_H_

#include <stdint.h>

#include "vanta/Export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes: the WS_ codes of the C++ interface. */
#define VANTA_WS_SUCCESS 0x00000000u
#define VANTA_WS_ERROR_FAILED 0xAC40C801u
#define VANTA_WS_ERROR_OUT_OF_MEMORY 0xAC40C802u
#define VANTA_WS_ERROR_ALREADY_INITIALIZED 0xAC40C805u
#define VANTA_WS_ERROR_NO_TRANSPORT 0xAC40C806u
#define VANTA_WS_ERROR_BAD_RESPONSE 0xAC40C807u
#define VANTA_WS_ERROR_ABORTED 0xAC40C808u
#define VANTA_WS_ERROR_URL_MALFORMED 0xAC40C809u
#define VANTA_WS_ERROR_HOST_NOT_RESOLVED 0xAC40C80Au
#define VANTA_WS_ERROR_CONNECT_FAILED 0xAC40C80Bu
#define VANTA_WS_ERROR_TIMED_OUT 0xAC40C80Cu
#define VANTA_WS_ERROR_TLS_FAILED 0xAC40C80Du
#define VANTA_WS_ERROR_SERVER_RESULT_8 0xAC40C80Eu
#define VANTA_WS_ERROR_SERVER_ERROR 0xAC40C80Fu
#define VANTA_WS_ERROR_SERVER_RESULT_2_5_6_7 0xAC40C810u
#define VANTA_WS_ERROR_SERVER_RESULT_10 0xAC40C811u
#define VANTA_WS_ERROR_SERVER_RESULT_11 0xAC40C812u
#define VANTA_WS_ERROR_LIBRARY_VERSION 0xAC40C813u
#define VANTA_WS_ERROR_THREAD_INITIALIZE 0x84E89007u
#define VANTA_WS_ERROR_THREAD_START 0xA6788C01u

/* Bit 31: the one thing that makes a code a failure. */
#define VANTA_FAILED(code) (((code)&0x80000000u) != 0)

/* The states of a negotiation (vanta_accessor_state, the state handler). */
enum {
  VANTA_STATE_IDLE = 0,
  VANTA_STATE_REQUEST_TOKEN = 1,
  VANTA_STATE_REQUEST_GAMESERVICE = 2,
  VANTA_STATE_SEND_DEVICE_ID = 3,
  VANTA_STATE_COMPLETE = 4,
  VANTA_STATE_FAILED = 5
};

/* The steps of a run report (vanta_step_report.step). */
enum {
  VANTA_STEP_INITIALIZE = 0,   /* the web service's set-up (release check) */
  VANTA_STEP_TOKEN = 1,        /* request_token */
  VANTA_STEP_ACCESS_TOKEN = 2, /* request_accesstoken */
  VANTA_STEP_GAME_SERVICE = 3, /* request_gameservice */
  VANTA_STEP_DEVICE_ID = 4,    /* building the device identifier */
  VANTA_STEP_REGISTRATION = 5, /* registering it with the web API */
  VANTA_STEP_KEY_FILE = 6      /* writing the key file */
};

/* The quality integers of a game service, in this order: version,
 * video_level_count, audio_level_count, then for each of the 8 video levels
 * fps, resolution_ratio and bitrate_ratio, then the 8 audio bitrates. */
#define VANTA_QUALITY_COUNT 35

typedef struct vanta_accessor vanta_accessor;
typedef struct vanta_web_service vanta_web_service;

/* An accessor's configuration (the arguments of the C++ Initialize). */
typedef struct vanta_config {
  uint32_t size; /* sizeof(vanta_config) */
  int client_version;
  const char* token;
  const char* arbiter_base_url;
  int video_profile, audio_profile;
  const char* gameid;
  int request_token_first; /* non-zero: ask for a token first */
  const char* zuc_key_value;
  int io_mouse, io_touch, io_keyboard, io_sensor, io_gamepad, yuv_itu_r_bt;
} vanta_config;

/* A negotiated game service. */
typedef struct vanta_service {
  uint32_t size; /* sizeof(vanta_service), set by the caller */
  const char* ipv4;
  const char* ipv6;
  int control_port, video_port, audio_port, input_port;
  const char* key1;
  const char* key2;
  const char* token;
  const char* zuc_key_value;
  const char* access_token;
  int32_t quality[VANTA_QUALITY_COUNT];
} vanta_service;

/* One HTTP exchange. Texts from a peer are printable (control characters
 * and bytes that are not UTF-8 written as \xNN); keys and tokens never
 * appear whole. */
typedef struct vanta_exchange_report {
  uint32_t size;               /* sizeof(vanta_exchange_report), set by the caller */
  const char* method;          /* "POST" or "GET"; empty when nothing was sent */
  const char* address;         /* the address asked, without its query string */
  int http_status;             /* 0 when no answer came */
  const char* transport_error; /* the transfer's error text; empty when it worked */
  uint32_t code;               /* the operation's result */
  const char* server_result;   /* the answer's "result" as text, for a refusal */
  const char* server_message;  /* the answer's "message", at most 200 bytes */
  const char* answer_excerpt;  /* the answer's first 64 bytes, when it could not be read */
  int64_t bytes_sent, bytes_received;
  int64_t elapsed_ms;
} vanta_exchange_report;

/* One step of a run, as the run report lists them in the order they ran. */
typedef struct vanta_step_report {
  uint32_t size;      /* sizeof(vanta_step_report), set by the caller */
  int step;           /* a VANTA_STEP_ value */
  int attempts;       /* requests made; 0 for steps without one */
  uint32_t code;      /* the step's outcome */
  const char* detail; /* why a step without an exchange failed */
} vanta_step_report;

/* The game service request's arguments (vanta_web_service_request_game_service). */
typedef struct vanta_game_service_request {
  uint32_t size; /* sizeof(vanta_game_service_request) */
  int client_version;
  const char* access_token;
  int video_profile, audio_profile;
  int io_mouse, io_touch, io_keyboard, io_sensor, io_gamepad, yuv_itu_r_bt;
  int try_count;
  int env_count;                 /* entries of the "env" object; 0: none */
  const char* const* env_keys;   /* env_count keys (NULL when env_count is 0) */
  const char* const* env_values; /* env_count values, in the same order */
} vanta_game_service_request;

/* ---- The library ---- */

/* The library's release ("1.2.0"). */
VANTA_EXPORT const char* vanta_version(void);
/* The name of the WS_ code with this value ("WS_SUCCESS", ...), or
 * "unknown"; never NULL. */
VANTA_EXPORT const char* vanta_code_name(uint32_t code);
/* "initialize", "token", "access token", "game service", "device
 * identifier", "registration", "key file"; "unknown" for other values. */
VANTA_EXPORT const char* vanta_step_name(int step);

/* One line per event, without a line end; process-wide, none at first,
 * called on any thread, concurrently. NULL removes it; once this returns
 * the previous handler is no longer called. The line format is for people:
 * programs read the run report instead.
 * REQUIRES: the handler does not call vanta_set_trace_handler. */
typedef void (*vanta_trace_handler)(const char* line, void* context);
VANTA_EXPORT void vanta_set_trace_handler(vanta_trace_handler handler, void* context);

/* ---- The accessor: the whole negotiation on a worker thread ---- */

/* NULL when out of memory. */
VANTA_EXPORT vanta_accessor* vanta_accessor_new(void);
/* Cancels a run that is going, waits for its end, and releases the handle
 * with its strings. NULL is fine. */
VANTA_EXPORT void vanta_accessor_free(vanta_accessor* a);

/* Stores the configuration (copied), clears the negotiated values, the run
 * report and a cancel. WS_ERROR_FAILED for a bad argument or while a run is
 * going; else as the C++ Initialize. */
VANTA_EXPORT uint32_t vanta_accessor_initialize(vanta_accessor* a, const vanta_config* c);
/* Adds (or replaces) an entry of the game service request's "env" object;
 * entries stay across runs. REQUIRES: no run is going (else
 * WS_ERROR_FAILED). */
VANTA_EXPORT uint32_t vanta_accessor_set_env(vanta_accessor* a, const char* key, const char* value);

/* Called on the worker thread once for each state a run publishes, in
 * order. It must return quickly and may call only vanta_accessor_cancel,
 * vanta_accessor_state and vanta_accessor_progress. NULL removes it.
 * REQUIRES: no run is going. */
typedef void (*vanta_state_handler)(int state, void* context);
VANTA_EXPORT uint32_t vanta_accessor_set_state_handler(vanta_accessor* a,
                                                       vanta_state_handler handler, void* context);
/* 0: the run skips the device identifier and its registration. Default 1.
 * REQUIRES: no run is going. */
VANTA_EXPORT uint32_t vanta_accessor_set_register_device_id(vanta_accessor* a, int on);
/* The web API to register with, "https://host[:port]"; "" (the default):
 * the host the library was built for. REQUIRES: no run is going. */
VANTA_EXPORT uint32_t vanta_accessor_set_web_api_origin(vanta_accessor* a, const char* origin);

/* Starts the run: 0 or WS_ERROR_THREAD_START (WS_ERROR_FAILED for NULL). */
VANTA_EXPORT uint32_t vanta_accessor_start(vanta_accessor* a);
/* Ends the run within milliseconds wherever it is (state 5,
 * WS_ERROR_ABORTED); before start, the next run ends that way at once.
 * Any thread, never blocks, idempotent; NULL is fine. */
VANTA_EXPORT void vanta_accessor_cancel(vanta_accessor* a);
/* Waits without spinning until the run has ended or timeout_ms have passed
 * (negative: no limit). 1 once the run has ended, or at once when none is
 * going, with *result (may be NULL) holding its code; 0 when not yet. A
 * NULL handle gives 1 with WS_ERROR_FAILED. Not from the state handler. */
VANTA_EXPORT int vanta_accessor_wait(vanta_accessor* a, int timeout_ms, uint32_t* result);
/* A VANTA_STATE_ value; -1 for a NULL handle. */
VANTA_EXPORT int vanta_accessor_state(vanta_accessor* a);
/* The step the run is in (a VANTA_STEP_ value) and its attempt: 1 to 3
 * while the step's request is made and while the next is waited for, 0 for
 * steps without a request. Before a run: VANTA_STEP_INITIALIZE and 0;
 * after it, where it ended. WS_ERROR_FAILED for a NULL argument. */
VANTA_EXPORT uint32_t vanta_accessor_progress(vanta_accessor* a, int* step, int* attempt);

/* The configuration and the negotiated values (empty when the run did not
 * get them). WS_ERROR_FAILED while a run is going. */
VANTA_EXPORT uint32_t vanta_accessor_service(const vanta_accessor* a, vanta_service* out);

/* The run report of the last run: *count receives its number of steps (0
 * before the first run). WS_ERROR_FAILED while a run is going. */
VANTA_EXPORT uint32_t vanta_accessor_report_count(vanta_accessor* a, int* count);
/* Step index (0 to count - 1) of that report, and its last exchange (last
 * may be NULL; it is empty for steps without an exchange). */
VANTA_EXPORT uint32_t vanta_accessor_report_step(vanta_accessor* a, int index,
                                                 vanta_step_report* step,
                                                 vanta_exchange_report* last);

/* ---- The web service: one synchronous exchange per call ---- */

/* NULL when out of memory. */
VANTA_EXPORT vanta_web_service* vanta_web_service_new(void);
/* NULL is fine. */
VANTA_EXPORT void vanta_web_service_free(vanta_web_service* w);
/* Creates the transport after the release check: 0,
 * WS_ERROR_ALREADY_INITIALIZED, WS_ERROR_OUT_OF_MEMORY or
 * WS_ERROR_LIBRARY_VERSION. */
VANTA_EXPORT uint32_t vanta_web_service_initialize(vanta_web_service* w);

/* The dispatcher base; each request's name follows it directly. */
VANTA_EXPORT uint32_t vanta_web_service_set_arbiter_base(vanta_web_service* w, const char* base);
/* The launcher monitor address, as given. NULL arguments do nothing. */
VANTA_EXPORT void vanta_web_service_set_monitor_address(vanta_web_service* w, const char* uri);

/* One launcher monitor report. */
VANTA_EXPORT uint32_t vanta_web_service_monitor_put(vanta_web_service* w, int slotid,
                                                    int capture_down_time, int heartbeat_down_time,
                                                    int handling_down_time, int client_delay,
                                                    const char* remote_ip, int remote_port);

/* The dispatcher's three requests. Outputs are written only on success. */
VANTA_EXPORT uint32_t vanta_web_service_request_token(vanta_web_service* w, int client_version,
                                                      const char* gameid, int try_count,
                                                      const char** token,
                                                      const char** zuc_key_value);
VANTA_EXPORT uint32_t vanta_web_service_request_access_token(vanta_web_service* w,
                                                             int client_version, const char* token,
                                                             const char* zuc_key_value,
                                                             int try_count,
                                                             const char** access_token);
/* out's token and zuc_key_value are empty; its access_token is the one
 * sent. */
VANTA_EXPORT uint32_t vanta_web_service_request_game_service(
    vanta_web_service* w, const vanta_game_service_request* request, vanta_service* out);

/* What the handle's last request did (empty before the first). */
VANTA_EXPORT uint32_t vanta_web_service_last_exchange(vanta_web_service* w,
                                                      vanta_exchange_report* out);

#ifdef __cplusplus
}
#endif

#endif /* VANTA_VANTA_H_ */
