#!/usr/bin/env python3
"""The installed library as another language sees it: its C interface loaded
with ctypes (the standard library only), declared from the header alone.

  check_capi.py <library> <dispatcher base address> <monitor port> <release>

Negotiates with the reference dispatcher, reads the service and the run
report, cancels a run held by a server that never answers, and runs the
dispatcher's three requests and a monitor report through a web service.
Prints each failed check and a count; exit status 0 when all pass."""
import ctypes as C
import socket
import sys
import threading

SUCCESS, FAILED, ABORTED = 0, 0xAC40C801, 0xAC40C808
STATE_REQUEST_TOKEN, STATE_REQUEST_GAMESERVICE, STATE_COMPLETE, STATE_FAILED = 1, 2, 4, 5
STEPS = ["initialize", "token", "access token", "game service", "key file"]


class Sized(C.Structure):
    """A struct whose first member is its size, set on creation."""

    def __init__(self, **fields):
        super().__init__(size=C.sizeof(self), **fields)


class Config(Sized):
    _fields_ = [("size", C.c_uint32), ("client_version", C.c_int), ("token", C.c_char_p),
                ("arbiter_base_url", C.c_char_p), ("video_profile", C.c_int),
                ("audio_profile", C.c_int), ("gameid", C.c_char_p),
                ("request_token_first", C.c_int), ("zuc_key_value", C.c_char_p)] + [
                    (name, C.c_int) for name in ("io_mouse", "io_touch", "io_keyboard",
                                                 "io_sensor", "io_gamepad", "yuv_itu_r_bt")]


class Service(Sized):
    _fields_ = [("size", C.c_uint32), ("ipv4", C.c_char_p), ("ipv6", C.c_char_p)] + [
        (name, C.c_int) for name in ("control_port", "video_port", "audio_port", "input_port")
    ] + [(name, C.c_char_p) for name in ("key1", "key2", "token", "zuc_key_value",
                                         "access_token")] + [("quality", C.c_int32 * 35)]


class Exchange(Sized):
    _fields_ = [("size", C.c_uint32), ("method", C.c_char_p), ("address", C.c_char_p),
                ("http_status", C.c_int), ("transport_error", C.c_char_p),
                ("code", C.c_uint32), ("server_result", C.c_char_p),
                ("server_message", C.c_char_p), ("answer_excerpt", C.c_char_p),
                ("bytes_sent", C.c_int64), ("bytes_received", C.c_int64),
                ("elapsed_ms", C.c_int64)]


class Step(Sized):
    _fields_ = [("size", C.c_uint32), ("step", C.c_int), ("attempts", C.c_int),
                ("code", C.c_uint32), ("detail", C.c_char_p)]


class GameServiceRequest(Sized):
    _fields_ = [("size", C.c_uint32), ("client_version", C.c_int), ("access_token", C.c_char_p)
                ] + [(name, C.c_int) for name in (
                    "video_profile", "audio_profile", "io_mouse", "io_touch", "io_keyboard",
                    "io_sensor", "io_gamepad", "yuv_itu_r_bt", "try_count", "env_count")] + [
                        ("env_keys", C.POINTER(C.c_char_p)), ("env_values", C.POINTER(C.c_char_p))]


STATE_HANDLER = C.CFUNCTYPE(None, C.c_int, C.c_void_p)
TRACE_HANDLER = C.CFUNCTYPE(None, C.c_char_p, C.c_void_p)
P, U32, I = C.c_void_p, C.c_uint32, C.c_int
SIGNATURES = {
    "vanta_version": (C.c_char_p, []),
    "vanta_code_name": (C.c_char_p, [U32]),
    "vanta_step_name": (C.c_char_p, [I]),
    "vanta_set_trace_handler": (None, [TRACE_HANDLER, P]),
    "vanta_accessor_new": (P, []),
    "vanta_accessor_free": (None, [P]),
    "vanta_accessor_initialize": (U32, [P, C.POINTER(Config)]),
    "vanta_accessor_set_env": (U32, [P, C.c_char_p, C.c_char_p]),
    "vanta_accessor_set_state_handler": (U32, [P, STATE_HANDLER, P]),
    "vanta_accessor_set_register_device_id": (U32, [P, I]),
    "vanta_accessor_start": (U32, [P]),
    "vanta_accessor_cancel": (None, [P]),
    "vanta_accessor_wait": (I, [P, I, C.POINTER(U32)]),
    "vanta_accessor_state": (I, [P]),
    "vanta_accessor_progress": (U32, [P, C.POINTER(I), C.POINTER(I)]),
    "vanta_accessor_service": (U32, [P, C.POINTER(Service)]),
    "vanta_accessor_report_count": (U32, [P, C.POINTER(I)]),
    "vanta_accessor_report_step": (U32, [P, I, C.POINTER(Step), C.POINTER(Exchange)]),
    "vanta_web_service_new": (P, []),
    "vanta_web_service_free": (None, [P]),
    "vanta_web_service_initialize": (U32, [P]),
    "vanta_web_service_set_arbiter_base": (U32, [P, C.c_char_p]),
    "vanta_web_service_set_monitor_address": (None, [P, C.c_char_p]),
    "vanta_web_service_monitor_put": (U32, [P, I, I, I, I, I, C.c_char_p, I]),
    "vanta_web_service_request_token": (U32, [P, I, C.c_char_p, I, C.POINTER(C.c_char_p),
                                              C.POINTER(C.c_char_p)]),
    "vanta_web_service_request_access_token": (U32, [P, I, C.c_char_p, C.c_char_p, I,
                                                     C.POINTER(C.c_char_p)]),
    "vanta_web_service_request_game_service": (U32, [P, C.POINTER(GameServiceRequest),
                                                     C.POINTER(Service)]),
    "vanta_web_service_last_exchange": (U32, [P, C.POINTER(Exchange)]),
}

checks, failures = [], []


def check(what, got, expected):
    checks.append(what)
    if got != expected:
        print(f"FAIL {what}: got {got!r}, expected {expected!r}")
        failures.append(what)


def load(path):
    lib = C.CDLL(path)
    for name, (result, arguments) in SIGNATURES.items():
        function = getattr(lib, name)
        function.restype, function.argtypes = result, arguments
    return lib


def run(lib, accessor, base, handler=None):
    """Initialises and starts a run, and returns the waiter's result code."""
    config = Config(client_version=1, token=b"", arbiter_base_url=base.encode(), audio_profile=2,
                    gameid=b"python-game", request_token_first=1, zuc_key_value=b"",
                    io_mouse=1, io_touch=1, io_keyboard=1, io_gamepad=1, yuv_itu_r_bt=709)
    check("initialize", lib.vanta_accessor_initialize(accessor, config), SUCCESS)
    check("start", lib.vanta_accessor_start(accessor), SUCCESS)
    if handler:
        handler()
    result = U32(FAILED)
    check("wait ends the run", lib.vanta_accessor_wait(accessor, 30000, result), 1)
    return result.value


def report(lib, accessor):
    """The run report as (step name, code, attempts, HTTP status) rows."""
    count = I(-1)
    check("report count", lib.vanta_accessor_report_count(accessor, count), SUCCESS)
    rows = []
    for index in range(count.value):
        step, last = Step(), Exchange()
        check(f"report step {index}",
              lib.vanta_accessor_report_step(accessor, index, step, last), SUCCESS)
        rows.append((lib.vanta_step_name(step.step).decode(), step.code, step.attempts,
                     last.http_status))
    return rows


def negotiate(lib, base):
    states = []
    on_state = STATE_HANDLER(lambda state, _: states.append(state))
    accessor = lib.vanta_accessor_new()
    check("set env", lib.vanta_accessor_set_env(accessor, b"language", b"python"), SUCCESS)
    check("no registration", lib.vanta_accessor_set_register_device_id(accessor, 0), SUCCESS)
    check("state handler", lib.vanta_accessor_set_state_handler(accessor, on_state, None), SUCCESS)
    check("negotiation result", run(lib, accessor, base), SUCCESS)
    check("states seen", states, [STATE_REQUEST_TOKEN, STATE_REQUEST_GAMESERVICE, STATE_COMPLETE])
    service = Service()
    check("service", lib.vanta_accessor_service(accessor, service), SUCCESS)
    check("service address and ports",
          (service.ipv4, service.ipv6, service.control_port, service.input_port),
          (b"127.0.0.1", b"::1", 10001, 10004))
    # Version, level counts, then fps, resolution and bitrate ratio of the 8
    # video levels and the 8 audio bitrates: the dispatcher's three of each.
    check("quality", list(service.quality),
          [1, 3, 3, 30, 50, 40, 60, 75, 70, 60, 100, 100] + [0] * 15 + [64, 128, 256] + [0] * 5)
    check("run report", [row[0:3] for row in report(lib, accessor)],
          [(name, SUCCESS, 0 if name in ("initialize", "key file") else 1) for name in STEPS])
    lib.vanta_accessor_free(accessor)


def cancel(lib):
    """A run held by a server that accepts and never answers, cancelled from
    this thread once the worker has asked for a token."""
    silent = socket.create_server(("127.0.0.1", 0))
    asked = threading.Event()
    on_state = STATE_HANDLER(lambda state, _: asked.set())
    accessor = lib.vanta_accessor_new()
    lib.vanta_accessor_set_register_device_id(accessor, 0)
    lib.vanta_accessor_set_state_handler(accessor, on_state, None)

    def cancel_when_asked():
        check("the run asked for a token", asked.wait(10), True)
        connection, _ = silent.accept()  # the request is in flight
        check("wait before cancel", lib.vanta_accessor_wait(accessor, 0, None), 0)
        step, attempt = I(-1), I(-1)
        check("progress in flight",  # the token's first attempt
              (lib.vanta_accessor_progress(accessor, step, attempt), step.value, attempt.value),
              (SUCCESS, 1, 1))
        lib.vanta_accessor_cancel(accessor)
        connection.close()

    base = "http://127.0.0.1:%d/dispatcher/" % silent.getsockname()[1]
    check("cancelled run", run(lib, accessor, base, cancel_when_asked), ABORTED)
    check("cancelled state", lib.vanta_accessor_state(accessor), STATE_FAILED)
    check("cancelled report", [row[0:2] for row in report(lib, accessor)],
          [("initialize", SUCCESS), ("token", ABORTED)])
    lib.vanta_accessor_free(accessor)
    silent.close()


def web_service(lib, base, monitor_port):
    w = lib.vanta_web_service_new()
    check("web service initialize", lib.vanta_web_service_initialize(w), SUCCESS)
    check("arbiter base", lib.vanta_web_service_set_arbiter_base(w, base.encode()), SUCCESS)
    token, key, access = C.c_char_p(), C.c_char_p(), C.c_char_p()
    check("token", lib.vanta_web_service_request_token(w, 1, b"python-game", 1, token, key),
          SUCCESS)
    check("access token", lib.vanta_web_service_request_access_token(
        w, 1, token.value, key.value, 1, access), SUCCESS)
    keys, values = (C.c_char_p * 1)(b"language"), (C.c_char_p * 1)(b"python")
    request = GameServiceRequest(client_version=1, access_token=access.value, audio_profile=2,
                                 io_mouse=1, yuv_itu_r_bt=709, try_count=1, env_count=1,
                                 env_keys=keys, env_values=values)
    service = Service()
    check("game service", lib.vanta_web_service_request_game_service(w, request, service), SUCCESS)
    check("game service answer", (service.ipv4, service.access_token, service.quality[1]),
          (b"127.0.0.1", access.value, 3))
    last = Exchange()
    check("last exchange", lib.vanta_web_service_last_exchange(w, last), SUCCESS)
    check("last exchange's address and status",
          (last.method, last.address, last.http_status, last.code),
          (b"POST", base.encode() + b"request_gameservice", 200, SUCCESS))
    lib.vanta_web_service_set_monitor_address(w, b"http://127.0.0.1:%d/monitor/put" % monitor_port)
    check("monitor report", lib.vanta_web_service_monitor_put(w, 1, 0, 0, 0, 12, b"192.0.2.5", 9),
          SUCCESS)
    lib.vanta_web_service_free(w)


def main():
    path, base, monitor_port, release = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    lib = load(path)
    check("release", lib.vanta_version().decode(), release)
    check("code name", lib.vanta_code_name(ABORTED), b"WS_ERROR_ABORTED")
    check("NULL handle", lib.vanta_accessor_start(None), FAILED)
    lines = []
    on_line = TRACE_HANDLER(lambda line, _: lines.append(line.decode("utf-8", "replace")))
    lib.vanta_set_trace_handler(on_line, None)
    negotiate(lib, base)
    lib.vanta_set_trace_handler(TRACE_HANDLER(), None)
    check("trace lines name the game service request",
          any("request_gameservice" in line for line in lines), True)
    cancel(lib)
    web_service(lib, base, monitor_port)
    print(f"C interface through ctypes: {len(checks) - len(failures)} of {len(checks)} checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
