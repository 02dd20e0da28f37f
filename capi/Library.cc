// The library-wide part of the C interface: release, names, trace.
#include "capi/Handles.h"
#include "vanta/Report.h"
#include "vanta/Trace.h"

namespace vanta {
namespace {

// The C names of the codes, states and steps are the C++ values.
static_assert(VANTA_WS_SUCCESS == WS_SUCCESS && VANTA_WS_ERROR_FAILED == WS_ERROR_FAILED &&
              VANTA_WS_ERROR_OUT_OF_MEMORY == WS_ERROR_OUT_OF_MEMORY &&
              VANTA_WS_ERROR_ALREADY_INITIALIZED == WS_ERROR_ALREADY_INITIALIZED &&
              VANTA_WS_ERROR_NO_TRANSPORT == WS_ERROR_NO_TRANSPORT &&
              VANTA_WS_ERROR_BAD_RESPONSE == WS_ERROR_BAD_RESPONSE &&
              VANTA_WS_ERROR_ABORTED == WS_ERROR_ABORTED &&
              VANTA_WS_ERROR_URL_MALFORMED == WS_ERROR_URL_MALFORMED &&
              VANTA_WS_ERROR_HOST_NOT_RESOLVED == WS_ERROR_HOST_NOT_RESOLVED &&
              VANTA_WS_ERROR_CONNECT_FAILED == WS_ERROR_CONNECT_FAILED &&
              VANTA_WS_ERROR_TIMED_OUT == WS_ERROR_TIMED_OUT &&
              VANTA_WS_ERROR_TLS_FAILED == WS_ERROR_TLS_FAILED &&
              VANTA_WS_ERROR_SERVER_RESULT_8 == WS_ERROR_SERVER_RESULT_8 &&
              VANTA_WS_ERROR_SERVER_ERROR == WS_ERROR_SERVER_ERROR &&
              VANTA_WS_ERROR_SERVER_RESULT_2_5_6_7 == WS_ERROR_SERVER_RESULT_2_5_6_7 &&
              VANTA_WS_ERROR_SERVER_RESULT_10 == WS_ERROR_SERVER_RESULT_10 &&
              VANTA_WS_ERROR_SERVER_RESULT_11 == WS_ERROR_SERVER_RESULT_11 &&
              VANTA_WS_ERROR_LIBRARY_VERSION == WS_ERROR_LIBRARY_VERSION &&
              VANTA_WS_ERROR_THREAD_INITIALIZE == WS_ERROR_THREAD_INITIALIZE &&
              VANTA_WS_ERROR_THREAD_START == WS_ERROR_THREAD_START);
using State = WebServiceAccessor::State;
constexpr bool Same(int c, int cxx) { return c == cxx; }
static_assert(Same(VANTA_STATE_IDLE, State::IDLE) &&
              Same(VANTA_STATE_REQUEST_TOKEN, State::REQUEST_TOKEN) &&
              Same(VANTA_STATE_REQUEST_GAMESERVICE, State::REQUEST_GAMESERVICE) &&
              Same(VANTA_STATE_SEND_DEVICE_ID, State::SEND_DEVICE_ID) &&
              Same(VANTA_STATE_COMPLETE, State::COMPLETE) &&
              Same(VANTA_STATE_FAILED, State::FAILED));
using Step = StepReport::Step;
static_assert(Same(VANTA_STEP_INITIALIZE, Step::INITIALIZE) &&
              Same(VANTA_STEP_TOKEN, Step::TOKEN) &&
              Same(VANTA_STEP_ACCESS_TOKEN, Step::ACCESS_TOKEN) &&
              Same(VANTA_STEP_GAME_SERVICE, Step::GAME_SERVICE) &&
              Same(VANTA_STEP_DEVICE_ID, Step::DEVICE_ID) &&
              Same(VANTA_STEP_REGISTRATION, Step::REGISTRATION) &&
              Same(VANTA_STEP_KEY_FILE, Step::KEY_FILE));
static_assert(VANTA_QUALITY_COUNT ==
              3 +
                  3 * sizeof(WebService::QualityParams::video) /
                      sizeof(WebService::QualityParams::Video) +
                  sizeof(WebService::QualityParams::audio_bitrate) / sizeof(int));

}  // namespace
}  // namespace vanta

const char* vanta_version(void) { return VANTA_VERSION; }

const char* vanta_code_name(uint32_t code) { return vanta::ErrorCode(code).Name(); }

const char* vanta_step_name(int step) {
  if (step < VANTA_STEP_INITIALIZE || step > VANTA_STEP_KEY_FILE) return "unknown";
  return vanta::StepName(static_cast<vanta::StepReport::Step::type>(step));
}

void vanta_set_trace_handler(vanta_trace_handler handler, void* context) {
  vanta::SetTraceHandler(handler, context);
}
