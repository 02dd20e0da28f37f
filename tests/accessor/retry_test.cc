#include "accessor/Retry.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/accessor/RunnerFixture.h"

namespace vanta {
namespace {

class RetryTest : public testing::RunnerTest {};

struct Attempts {
  std::vector<ErrorCode> codes;  // returned in turn; the last one repeats
  std::vector<int> try_counts;   // as received
  ErrorCode operator()(int try_count) {
    try_counts.push_back(try_count);
    return codes[std::min(try_counts.size(), codes.size()) - 1];
  }
};

TEST_F(RetryTest, AtMostThreeAttemptsWithGrowingWaits) {
  const ErrorCode kRefused = WS_ERROR_CONNECT_FAILED;
  struct Row {
    std::vector<ErrorCode> codes;
    int abort_after;  // attempt after which the flag is up (0: never)
    std::vector<int> try_counts;
    std::vector<unsigned> waits;
    ErrorCode code;
    bool aborted;
  };
  const Row rows[] = {
      {{kRefused}, 0, {1, 2, 3}, {2000, 3000}, kRefused, false},
      {{WS_ERROR_SERVER_ERROR, WS_ERROR_TIMED_OUT},
       0,
       {1, 2, 3},
       {2000, 3000},
       WS_ERROR_TIMED_OUT,
       false},
      {{WS_ERROR_SERVER_ERROR, WS_SUCCESS}, 0, {1, 2}, {2000}, WS_SUCCESS, false},
      {{0x00000001u}, 0, {1}, {}, 0x00000001u, false},
      {{WS_ERROR_NO_TRANSPORT}, 0, {1}, {}, WS_ERROR_NO_TRANSPORT, false},
      {{WS_ERROR_BAD_RESPONSE}, 0, {1}, {}, WS_ERROR_BAD_RESPONSE, false},
      {{WS_ERROR_SERVER_RESULT_8}, 0, {1}, {}, WS_ERROR_SERVER_RESULT_8, false},
      {{WS_ERROR_SERVER_RESULT_2_5_6_7}, 0, {1}, {}, WS_ERROR_SERVER_RESULT_2_5_6_7, false},
      {{WS_ERROR_SERVER_RESULT_10}, 0, {1}, {}, WS_ERROR_SERVER_RESULT_10, false},
      {{WS_ERROR_SERVER_RESULT_11}, 0, {1}, {}, WS_ERROR_SERVER_RESULT_11, false},
      {{WS_SUCCESS}, 1, {1}, {}, WS_SUCCESS, true},
      {{kRefused}, 2, {1, 2}, {2000}, kRefused, true},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    const Row& row = rows[i];
    ClearRecords();
    Attempts attempts{row.codes, {}};
    StepOutcome outcome = RunStep(std::ref(attempts), [&] {
      return row.abort_after != 0 &&
             static_cast<int>(attempts.try_counts.size()) >= row.abort_after;
    });
    EXPECT_EQ(attempts.try_counts, row.try_counts) << "row " << i;
    EXPECT_EQ(Waits(), row.waits) << "row " << i;
    EXPECT_EQ(outcome.code, row.code) << "row " << i;
    EXPECT_EQ(outcome.aborted, row.aborted) << "row " << i;
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
