// Accessors destroyed at every phase of a run: during each request, each
// retry wait and the UUID query. The run must stop after at most the
// request in flight plus the one that follows the wait in progress.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/accessor/RunnerFixture.h"

namespace vanta {
namespace {

// True once the accessor's owner is waiting for it to stop, which the
// destructor asks for after raising the abort flag. Bounded, so that a
// broken test cannot hang.
bool WaitUntilAskedToStop(WebServiceAccessor* accessor) {
  for (int i = 0; i < 10000; ++i) {
    if (accessor->IsTermRequest()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

template <typename Predicate>
bool Eventually(Predicate done) {
  for (int i = 0; i < 10000 && !done(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

using AbortTest = testing::RunnerTest;

TEST_F(AbortTest, DestroyedDuringEachPhaseStopsWithinOneRequestAndOneWait) {
  const auto& ok = testing::kAllOk;
  struct Row {
    size_t step;  // index into ok, or ok.size() for the UUID query
    int wait;     // 0: hold that step's request; 1 or 2: the step fails and that wait is held
  };
  std::vector<Row> rows;
  for (size_t step = 0; step < ok.size(); ++step) {
    for (int wait : {0, 1, 2}) rows.push_back({step, wait});
  }
  rows.push_back({ok.size(), 0});
  for (const Row& row : rows) {
    const bool query = row.step == ok.size();
    const std::string name =
        (query ? "UUID query" : ok[row.step].first) + " wait " + std::to_string(row.wait);
    NewPeer();
    std::atomic<WebServiceAccessor*> held{nullptr};
    std::atomic<bool> reached{false};
    auto hold = [&] {
      reached = true;
      WaitUntilAskedToStop(held);
    };
    std::atomic<int> waits{0};
    env_.on_sleep = [&](unsigned) {
      if (++waits == row.wait) hold();
    };
    if (query) {
      WriteTemp("hang", "");
    } else if (row.wait > 0) {
      peer_->SetAnswer(ok[row.step].first, testing::Reply("{}", 500));  // retried
    } else {
      const std::string body = ok[row.step].second.body;
      peer_->SetHandler(ok[row.step].first,
                        [&, body](const httplib::Request&, httplib::Response& res) {
                          hold();
                          res.set_content(body, "application/json");
                        });
    }
    auto accessor = std::make_unique<WebServiceAccessor>();
    held = accessor.get();
    Start(*accessor, true);
    if (query) {
      ASSERT_TRUE(Eventually([&] { return ReadTemp("pid").value_or("") != ""; })) << name;
    } else {
      ASSERT_TRUE(Eventually([&] { return reached.load(); })) << name;
    }
    const size_t requests = peer_->Requests().size();
    const int waits_before = waits;
    accessor.reset();

    EXPECT_EQ(Results(), std::vector<std::string>{"0xAC40C808 WS_ERROR_ABORTED"}) << name;
    ASSERT_FALSE(trace_.States().empty()) << name;
    EXPECT_EQ(trace_.States().back(), 5) << name;
    // A held request ends the run; a held wait is followed by one attempt.
    EXPECT_EQ(peer_->Requests().size() - requests, row.wait > 0 ? 1u : 0u) << name;
    EXPECT_EQ(waits, waits_before) << name;
    if (query) {
      // Stopped at once, not at the query's time limit.
      EXPECT_EQ(trace_.With("query was stopped").size(), 1u) << name;
      EXPECT_TRUE(testing::ProcessEnded(std::stoi(*ReadTemp("pid")))) << name;
    }
    env_.on_sleep = nullptr;
    std::remove(TempPath("hang").c_str());
  }
}

}  // namespace
}  // namespace vanta
