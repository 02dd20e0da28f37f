// Proves that GoogleTest and GoogleMock from the Windows prefix link and run,
// threads included.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(WindowsSmoke, ThreadsRunAndJoin) {
  std::atomic<int> sum{0};
  std::vector<std::thread> threads;
  for (int i = 1; i <= 4; ++i) threads.emplace_back([&sum, i] { sum += i; });
  for (auto& t : threads) t.join();
  EXPECT_EQ(sum.load(), 10);
  EXPECT_THAT(std::vector<int>({1, 2, 3}), testing::ElementsAre(1, 2, 3));
}

}  // namespace
