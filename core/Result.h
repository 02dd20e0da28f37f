// Helpers on result codes shared by every layer.
#ifndef VANTA_CORE_RESULT_H_
#define VANTA_CORE_RESULT_H_

#include "vanta/ErrorCode.h"

namespace vanta {

// A code is a failure when bit 31 is set; nothing else is tested.
inline bool IsFailure(ErrorCode code) { return (code.GetValue() & 0x80000000u) != 0; }

// What a public request returns for the code of its last stage: the failure
// itself, or exactly 0 for every non-failure.
inline ErrorCode Normalize(ErrorCode code) { return IsFailure(code) ? code : ErrorCode(WS_SUCCESS); }

}  // namespace vanta

#endif  // VANTA_CORE_RESULT_H_
