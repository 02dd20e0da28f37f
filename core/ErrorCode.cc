#include "vanta/ErrorCode.h"

namespace vanta {

const char* ErrorCode::Name() const {
  switch (value_) {
    case WS_SUCCESS:
      return "WS_SUCCESS";
    case WS_ERROR_FAILED:
      return "WS_ERROR_FAILED";
    case WS_ERROR_OUT_OF_MEMORY:
      return "WS_ERROR_OUT_OF_MEMORY";
    case WS_ERROR_ALREADY_INITIALIZED:
      return "WS_ERROR_ALREADY_INITIALIZED";
    case WS_ERROR_NO_TRANSPORT:
      return "WS_ERROR_NO_TRANSPORT";
    case WS_ERROR_BAD_RESPONSE:
      return "WS_ERROR_BAD_RESPONSE";
    case WS_ERROR_ABORTED:
      return "WS_ERROR_ABORTED";
    case WS_ERROR_URL_MALFORMED:
      return "WS_ERROR_URL_MALFORMED";
    case WS_ERROR_HOST_NOT_RESOLVED:
      return "WS_ERROR_HOST_NOT_RESOLVED";
    case WS_ERROR_CONNECT_FAILED:
      return "WS_ERROR_CONNECT_FAILED";
    case WS_ERROR_TIMED_OUT:
      return "WS_ERROR_TIMED_OUT";
    case WS_ERROR_TLS_FAILED:
      return "WS_ERROR_TLS_FAILED";
    case WS_ERROR_SERVER_RESULT_8:
      return "WS_ERROR_SERVER_RESULT_8";
    case WS_ERROR_SERVER_ERROR:
      return "WS_ERROR_SERVER_ERROR";
    case WS_ERROR_SERVER_RESULT_2_5_6_7:
      return "WS_ERROR_SERVER_RESULT_2_5_6_7";
    case WS_ERROR_SERVER_RESULT_10:
      return "WS_ERROR_SERVER_RESULT_10";
    case WS_ERROR_SERVER_RESULT_11:
      return "WS_ERROR_SERVER_RESULT_11";
    case WS_ERROR_LIBRARY_VERSION:
      return "WS_ERROR_LIBRARY_VERSION";
    case WS_ERROR_THREAD_INITIALIZE:
      return "WS_ERROR_THREAD_INITIALIZE";
    case WS_ERROR_THREAD_START:
      return "WS_ERROR_THREAD_START";
    default:
      return "unknown";
  }
}

}  // namespace vanta
