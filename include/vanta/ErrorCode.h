// Result codes.
//
// Every operation that can fail returns an ErrorCode by value. 0 is success;
// a code with bit 31 set is a failure. No failure carries a text.
#ifndef VANTA_ERROR_CODE_H_
#define VANTA_ERROR_CODE_H_

#include <cstdint>

#include "vanta/Export.h"

namespace vanta {

class ErrorCode {
 public:
  constexpr ErrorCode(uint32_t value = 0) : value_(value) {}  // NOLINT: implicit by design

  constexpr uint32_t GetValue() const { return value_; }
  // Bit 31: the one thing that makes a code a failure.
  constexpr bool IsFailure() const { return (value_ & 0x80000000u) != 0; }
  // The name of the WS_ constant with this value ("WS_SUCCESS",
  // "WS_ERROR_CONNECT_FAILED", ...), or "unknown"; never null.
  VANTA_EXPORT const char* Name() const;

  friend constexpr bool operator==(ErrorCode a, ErrorCode b) { return a.value_ == b.value_; }
  friend constexpr bool operator!=(ErrorCode a, ErrorCode b) { return a.value_ != b.value_; }

 private:
  uint32_t value_;
};

constexpr uint32_t WS_SUCCESS = 0x00000000u;
constexpr uint32_t WS_ERROR_FAILED = 0xAC40C801u;
constexpr uint32_t WS_ERROR_OUT_OF_MEMORY = 0xAC40C802u;
constexpr uint32_t WS_ERROR_ALREADY_INITIALIZED = 0xAC40C805u;
constexpr uint32_t WS_ERROR_NO_TRANSPORT = 0xAC40C806u;
constexpr uint32_t WS_ERROR_BAD_RESPONSE = 0xAC40C807u;
constexpr uint32_t WS_ERROR_ABORTED = 0xAC40C808u;
constexpr uint32_t WS_ERROR_URL_MALFORMED = 0xAC40C809u;
constexpr uint32_t WS_ERROR_HOST_NOT_RESOLVED = 0xAC40C80Au;
constexpr uint32_t WS_ERROR_CONNECT_FAILED = 0xAC40C80Bu;
constexpr uint32_t WS_ERROR_TIMED_OUT = 0xAC40C80Cu;
constexpr uint32_t WS_ERROR_TLS_FAILED = 0xAC40C80Du;
constexpr uint32_t WS_ERROR_SERVER_RESULT_8 = 0xAC40C80Eu;
constexpr uint32_t WS_ERROR_SERVER_ERROR = 0xAC40C80Fu;
constexpr uint32_t WS_ERROR_SERVER_RESULT_2_5_6_7 = 0xAC40C810u;
constexpr uint32_t WS_ERROR_SERVER_RESULT_10 = 0xAC40C811u;
constexpr uint32_t WS_ERROR_SERVER_RESULT_11 = 0xAC40C812u;
constexpr uint32_t WS_ERROR_LIBRARY_VERSION = 0xAC40C813u;
constexpr uint32_t WS_ERROR_THREAD_INITIALIZE = 0x84E89007u;
constexpr uint32_t WS_ERROR_THREAD_START = 0xA6788C01u;

}  // namespace vanta

#endif  // VANTA_ERROR_CODE_H_
