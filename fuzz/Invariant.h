// What every fuzz target checks besides memory safety: a broken invariant
// prints where and aborts, so that libFuzzer keeps the input as a crash.
#ifndef VANTA_FUZZ_INVARIANT_H_
#define VANTA_FUZZ_INVARIANT_H_

#include <cstdio>
#include <cstdlib>

#include "messages/Json.h"
#include "service/Codes.h"
#include "vanta/ErrorCode.h"

#define VANTA_FUZZ_CHECK(condition)                                                          \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                          \
    }                                                                                        \
  } while (false)

namespace vanta {
namespace fuzz {

// The codes a server status can map to.
inline bool IsServerStatusCode(ErrorCode code) {
  return code == WS_ERROR_SERVER_RESULT_8 || code == WS_ERROR_SERVER_ERROR ||
         code == WS_ERROR_SERVER_RESULT_2_5_6_7 || code == WS_ERROR_SERVER_RESULT_10 ||
         code == WS_ERROR_SERVER_RESULT_11;
}

// The codes a response stage with a server status may give: success, a bad
// answer, or a mapped server status.
inline bool IsAnswerCode(ErrorCode code) {
  return code == WS_SUCCESS || code == WS_ERROR_BAD_RESPONSE || IsServerStatusCode(code);
}

// Runs parse on two sets of outputs that start different. Both runs must
// give the same answer code; a success must leave them equal (every output
// written), a failure must leave each as it started.
template <typename Outputs, typename Parse>
ErrorCode CheckAllOrNothing(const Outputs& start_a, const Outputs& start_b, Parse parse) {
  Outputs a = start_a;
  Outputs b = start_b;
  const ErrorCode code = parse(a);
  VANTA_FUZZ_CHECK(parse(b) == code);
  VANTA_FUZZ_CHECK(IsAnswerCode(code));
  if (code == WS_SUCCESS) {
    VANTA_FUZZ_CHECK(a == b);
  } else {
    VANTA_FUZZ_CHECK(a == start_a);
    VANTA_FUZZ_CHECK(b == start_b);
  }
  return code;
}

// Two verdicts say the same: kind, status and message alike.
inline bool SameVerdict(const Verdict& a, const Verdict& b) {
  return a.kind == b.kind && a.status == b.status && a.message == b.message;
}

// The differential check: the shipped answer check and its tree-reading
// reference (fuzz/Reference.h), each run on its own copy of start, give the
// same verdict and leave the same outputs.
template <typename Outputs, typename Shipped, typename Reference>
void CheckSameAsReference(const Outputs& start, Shipped shipped, Reference reference) {
  Outputs ours = start;
  Outputs theirs = start;
  VANTA_FUZZ_CHECK(SameVerdict(shipped(ours), reference(theirs)));
  VANTA_FUZZ_CHECK(ours == theirs);
}

}  // namespace fuzz
}  // namespace vanta

#endif  // VANTA_FUZZ_INVARIANT_H_
