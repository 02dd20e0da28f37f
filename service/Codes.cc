#include "service/Codes.h"

#include "messages/Json.h"

namespace vanta {

ErrorCode MapTransportResult(int curl_code) {
  switch (curl_code) {
    case 0:  // CURLE_OK
      return WS_SUCCESS;
    case 3:  // CURLE_URL_MALFORMAT
      return WS_ERROR_URL_MALFORMED;
    case 6:  // CURLE_COULDNT_RESOLVE_HOST
      return WS_ERROR_HOST_NOT_RESOLVED;
    case 7:  // CURLE_COULDNT_CONNECT
    case 9:  // CURLE_REMOTE_ACCESS_DENIED
      return WS_ERROR_CONNECT_FAILED;
    case 22:  // CURLE_HTTP_RETURNED_ERROR
      return WS_ERROR_SERVER_ERROR;
    case 27:  // CURLE_OUT_OF_MEMORY
      return WS_ERROR_OUT_OF_MEMORY;
    case 28:  // CURLE_OPERATION_TIMEDOUT
      return WS_ERROR_TIMED_OUT;
    case 35:  // CURLE_SSL_CONNECT_ERROR
    case 42:  // CURLE_ABORTED_BY_CALLBACK: only the TLS context preparation aborts
    case 58:  // CURLE_SSL_CERTPROBLEM
    case 59:  // CURLE_SSL_CIPHER
    case 60:  // CURLE_PEER_FAILED_VERIFICATION
    case 77:  // CURLE_SSL_CACERT_BADFILE
      return WS_ERROR_TLS_FAILED;
    default:
      return WS_ERROR_FAILED;
  }
}

ErrorCode MapServerStatus(int32_t status) {
  switch (status) {
    case 2:
    case 5:
    case 6:
    case 7:
      return WS_ERROR_SERVER_RESULT_2_5_6_7;
    case 8:
      return WS_ERROR_SERVER_RESULT_8;
    case 10:
      return WS_ERROR_SERVER_RESULT_10;
    case 11:
      return WS_ERROR_SERVER_RESULT_11;
    default:
      return WS_ERROR_SERVER_ERROR;
  }
}

ErrorCode CodeOf(const Verdict& verdict) {
  switch (verdict.kind) {
    case Verdict::Kind::kAccepted:
      return WS_SUCCESS;
    case Verdict::Kind::kRefused:
      return MapServerStatus(verdict.status);
    case Verdict::Kind::kMalformed:
      break;
  }
  return WS_ERROR_BAD_RESPONSE;
}

bool IsServerResponseCode(ErrorCode code) {
  switch (code.GetValue()) {
    case WS_SUCCESS:
    case WS_ERROR_NO_TRANSPORT:
    case WS_ERROR_BAD_RESPONSE:
    case WS_ERROR_SERVER_RESULT_8:
    case WS_ERROR_SERVER_RESULT_2_5_6_7:
    case WS_ERROR_SERVER_RESULT_10:
    case WS_ERROR_SERVER_RESULT_11:
      return true;
    default:
      return false;
  }
}

}  // namespace vanta
