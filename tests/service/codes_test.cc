#include "service/Codes.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vanta {
namespace {

TEST(CodesTest, TransportResultMapping) {
  struct Row {
    int curl_code;
    uint32_t expected;
  };
  const Row rows[] = {
      {0, WS_SUCCESS},
      {3, WS_ERROR_URL_MALFORMED},
      {6, WS_ERROR_HOST_NOT_RESOLVED},
      {7, WS_ERROR_CONNECT_FAILED},
      {9, WS_ERROR_CONNECT_FAILED},
      {22, WS_ERROR_SERVER_ERROR},
      {27, WS_ERROR_OUT_OF_MEMORY},
      {28, WS_ERROR_TIMED_OUT},
      {35, WS_ERROR_TLS_FAILED},
      {42, WS_ERROR_TLS_FAILED},
      {58, WS_ERROR_TLS_FAILED},
      {59, WS_ERROR_TLS_FAILED},
      {60, WS_ERROR_TLS_FAILED},
      {77, WS_ERROR_TLS_FAILED},
      // Unlisted values, close neighbours of listed ones among them.
      {1, WS_ERROR_FAILED},
      {2, WS_ERROR_FAILED},
      {5, WS_ERROR_FAILED},
      {8, WS_ERROR_FAILED},
      {47, WS_ERROR_FAILED},
      {56, WS_ERROR_FAILED},
      {76, WS_ERROR_FAILED},
      {78, WS_ERROR_FAILED},
      {99, WS_ERROR_FAILED},
      {-1, WS_ERROR_FAILED},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(MapTransportResult(row.curl_code).GetValue(), row.expected)
        << "CURLcode " << row.curl_code;
  }
}

TEST(CodesTest, ServerStatusMapping) {
  struct Row {
    int32_t status;
    uint32_t expected;
  };
  const Row rows[] = {
      {2, WS_ERROR_SERVER_RESULT_2_5_6_7},
      {5, WS_ERROR_SERVER_RESULT_2_5_6_7},
      {6, WS_ERROR_SERVER_RESULT_2_5_6_7},
      {7, WS_ERROR_SERVER_RESULT_2_5_6_7},
      {8, WS_ERROR_SERVER_RESULT_8},
      {10, WS_ERROR_SERVER_RESULT_10},
      {11, WS_ERROR_SERVER_RESULT_11},
      {0, WS_ERROR_SERVER_ERROR},
      {1, WS_ERROR_SERVER_ERROR},
      {3, WS_ERROR_SERVER_ERROR},
      {4, WS_ERROR_SERVER_ERROR},
      {9, WS_ERROR_SERVER_ERROR},
      {12, WS_ERROR_SERVER_ERROR},
      {-1, WS_ERROR_SERVER_ERROR},
      {INT32_MIN, WS_ERROR_SERVER_ERROR},
      {INT32_MAX, WS_ERROR_SERVER_ERROR},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(MapServerStatus(row.status).GetValue(), row.expected) << "status " << row.status;
  }
}

TEST(CodesTest, ServerResponseCodes) {
  const uint32_t final_codes[] = {
      WS_SUCCESS,
      WS_ERROR_NO_TRANSPORT,
      WS_ERROR_BAD_RESPONSE,
      WS_ERROR_SERVER_RESULT_8,
      WS_ERROR_SERVER_RESULT_2_5_6_7,
      WS_ERROR_SERVER_RESULT_10,
      WS_ERROR_SERVER_RESULT_11,
  };
  const uint32_t retried_codes[] = {
      WS_ERROR_FAILED,          WS_ERROR_OUT_OF_MEMORY,     WS_ERROR_ALREADY_INITIALIZED,
      WS_ERROR_ABORTED,         WS_ERROR_URL_MALFORMED,     WS_ERROR_HOST_NOT_RESOLVED,
      WS_ERROR_CONNECT_FAILED,  WS_ERROR_TIMED_OUT,         WS_ERROR_TLS_FAILED,
      WS_ERROR_SERVER_ERROR,    WS_ERROR_LIBRARY_VERSION,   WS_ERROR_THREAD_INITIALIZE,
      WS_ERROR_THREAD_START,    1u,                         0xAC40C803u,
      0xAC40C804u,              0xAC40C814u,                0xFFFFFFFFu,
  };
  for (uint32_t code : final_codes) {
    EXPECT_TRUE(IsServerResponseCode(code)) << std::hex << code;
  }
  for (uint32_t code : retried_codes) {
    EXPECT_FALSE(IsServerResponseCode(code)) << std::hex << code;
  }
}

}  // namespace
}  // namespace vanta
