#include "service/Codes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "vanta/WebService.h"

namespace vanta {
namespace {

// Each row: the code and every input that must give it. The last row of
// each table holds unlisted inputs, close neighbours of listed ones.
TEST(CodesTest, MappingsAndServerResponseCodes) {
  const std::pair<uint32_t, std::vector<int>> transport[] = {
      {WS_SUCCESS, {0}},
      {WS_ERROR_URL_MALFORMED, {3}},
      {WS_ERROR_HOST_NOT_RESOLVED, {6}},
      {WS_ERROR_CONNECT_FAILED, {7, 9}},
      {WS_ERROR_SERVER_ERROR, {22}},
      {WS_ERROR_OUT_OF_MEMORY, {27}},
      {WS_ERROR_TIMED_OUT, {28}},
      {WS_ERROR_TLS_FAILED, {35, 42, 58, 59, 60, 77}},
      {WS_ERROR_FAILED, {-1, 1, 2, 5, 8, 47, 56, 76, 78, 99}},
  };
  for (const auto& [code, inputs] : transport) {
    for (int input : inputs)
      EXPECT_EQ(MapTransportResult(input).GetValue(), code) << "CURLcode " << input;
  }
  const std::pair<uint32_t, std::vector<int32_t>> status[] = {
      {WS_ERROR_SERVER_RESULT_2_5_6_7, {2, 5, 6, 7}},
      {WS_ERROR_SERVER_RESULT_8, {8}},
      {WS_ERROR_SERVER_RESULT_10, {10}},
      {WS_ERROR_SERVER_RESULT_11, {11}},
      {WS_ERROR_SERVER_ERROR, {INT32_MIN, -1, 0, 1, 3, 4, 9, 12, INT32_MAX}},
  };
  for (const auto& [code, inputs] : status) {
    for (int32_t input : inputs)
      EXPECT_EQ(MapServerStatus(input).GetValue(), code) << "status " << input;
  }
  // Through the public object, which may be asked without Initialize.
  const std::pair<bool, std::vector<uint32_t>> server_response[] = {
      {true,
       {WS_SUCCESS, WS_ERROR_NO_TRANSPORT, WS_ERROR_BAD_RESPONSE, WS_ERROR_SERVER_RESULT_8,
        WS_ERROR_SERVER_RESULT_2_5_6_7, WS_ERROR_SERVER_RESULT_10, WS_ERROR_SERVER_RESULT_11}},
      {false,
       {WS_ERROR_FAILED, WS_ERROR_OUT_OF_MEMORY, WS_ERROR_ALREADY_INITIALIZED, WS_ERROR_ABORTED,
        WS_ERROR_URL_MALFORMED, WS_ERROR_HOST_NOT_RESOLVED, WS_ERROR_CONNECT_FAILED,
        WS_ERROR_TIMED_OUT, WS_ERROR_TLS_FAILED, WS_ERROR_SERVER_ERROR, WS_ERROR_LIBRARY_VERSION,
        WS_ERROR_THREAD_INITIALIZE, WS_ERROR_THREAD_START, 1u, 0xAC40C803u, 0xAC40C804u,
        0xAC40C814u, 0xFFFFFFFFu}},
  };
  WebService ws;
  for (const auto& [expected, codes] : server_response) {
    for (uint32_t code : codes) EXPECT_EQ(ws.IsServerResponse(code), expected) << std::hex << code;
  }
}

}  // namespace
}  // namespace vanta
