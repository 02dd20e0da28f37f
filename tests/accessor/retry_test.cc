#include "accessor/Retry.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/accessor/RunnerFixture.h"

namespace vanta {
namespace {

// Returns codes in turn (the last one repeats) and records the try counts.
struct Attempts {
  std::vector<ErrorCode> codes;
  std::vector<int> try_counts;
  ErrorCode operator()(int try_count) {
    try_counts.push_back(try_count);
    return codes[std::min(try_counts.size(), codes.size()) - 1];
  }
};

class RetryTest : public testing::RunnerTest {};

TEST_F(RetryTest, AtMostThreeAttemptsWithGrowingWaits) {
  struct Row {
    std::vector<ErrorCode> codes;
    int abort_after;  // attempt after which the flag is up (0: never)
    int attempts;
    ErrorCode code;
  } rows[] = {
      {{WS_ERROR_CONNECT_FAILED}, 0, 3, WS_ERROR_CONNECT_FAILED},
      {{WS_ERROR_SERVER_ERROR, WS_ERROR_TIMED_OUT}, 0, 3, WS_ERROR_TIMED_OUT},
      {{WS_ERROR_SERVER_ERROR, WS_SUCCESS}, 0, 2, WS_SUCCESS},
      {{0x00000001u}, 0, 1, 0x00000001u},  // bit 31 clear: a success
      {{WS_ERROR_BAD_RESPONSE}, 0, 1, WS_ERROR_BAD_RESPONSE},
      {{WS_ERROR_SERVER_RESULT_10}, 0, 1, WS_ERROR_SERVER_RESULT_10},
      {{WS_SUCCESS}, 1, 1, WS_SUCCESS},
      {{WS_ERROR_CONNECT_FAILED}, 2, 2, WS_ERROR_CONNECT_FAILED},
  };
  for (const Row& row : rows) {
    ClearRecords();
    Attempts attempts{row.codes, {}};
    StepOutcome outcome = RunStep(std::ref(attempts), [&] {
      return row.abort_after != 0 &&
             static_cast<int>(attempts.try_counts.size()) >= row.abort_after;
    });
    const std::vector<int> all_tries{1, 2, 3};
    EXPECT_EQ(attempts.try_counts,
              std::vector<int>(all_tries.begin(), all_tries.begin() + row.attempts));
    EXPECT_EQ(Waits(), WaitsBefore(row.attempts));
    EXPECT_EQ(outcome.code, row.code);
    EXPECT_EQ(outcome.aborted, row.abort_after != 0);
  }
}

// The one test that waits for the real 2 s and 3 s.
TEST(RetrySlowTest, RealWaitsBetweenAttempts) {
  Attempts attempts{{WS_ERROR_CONNECT_FAILED}, {}};
  StepOutcome outcome = RunStep(std::ref(attempts), [] { return false; });
  EXPECT_EQ(attempts.try_counts, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(outcome.code, WS_ERROR_CONNECT_FAILED);
}

}  // namespace
}  // namespace vanta
