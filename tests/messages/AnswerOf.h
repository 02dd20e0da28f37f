// Shorthand for the local peer's scripted answers in the message tests.
#ifndef VANTA_TESTS_MESSAGES_ANSWER_OF_H_
#define VANTA_TESTS_MESSAGES_ANSWER_OF_H_

#include <string>

#include "tests/support/LocalPeer.h"

namespace vanta {
namespace testing {

inline Answer AnswerOf(const std::string& body, int status = 200) {
  Answer answer;
  answer.status = status;
  answer.body = body;
  return answer;
}

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_MESSAGES_ANSWER_OF_H_
