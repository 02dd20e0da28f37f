// Accessors destroyed at every phase of a run: during each request and
// during each retry wait. The run must stop after at most the request in
// flight plus the one that follows the wait in progress.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/SleepHook.h"
#include "tests/accessor/RunnerFixture.h"
#include "tests/support/LocalPeer.h"
#include "tests/support/TestWebApiHost.h"
#include "vanta/WebServiceAccessor.h"

namespace vanta {
namespace {

using std::chrono::milliseconds;

// Holds one phase of the run (a request or a wait) until the test opens it.
class Hold {
 public:
  void Reset() {
    std::lock_guard<std::mutex> lock(mu_);
    reached_ = open_ = false;
    waits_.clear();
  }
  // Called by the held phase: tells the test, then waits (at most 10 s, so
  // that a broken test cannot hang) until it is opened.
  void Arrive() {
    std::unique_lock<std::mutex> lock(mu_);
    reached_ = true;
    cv_.notify_all();
    cv_.wait_for(lock, std::chrono::seconds(10), [this] { return open_; });
  }
  bool WaitReached() {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [this] { return reached_; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mu_);
    open_ = true;
    cv_.notify_all();
  }
  // The retry waits: recorded; the one numbered hold_wait (from 1) is held.
  void Wait(unsigned ms) {
    std::unique_lock<std::mutex> lock(mu_);
    waits_.push_back(ms);
    const bool held = static_cast<int>(waits_.size()) == hold_wait;
    lock.unlock();
    if (held) Arrive();
  }
  size_t Waits() {
    std::lock_guard<std::mutex> lock(mu_);
    return waits_.size();
  }
  int hold_wait = 0;

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool reached_ = false;
  bool open_ = false;
  std::vector<unsigned> waits_;
};

Hold hold;
void HeldSleep(unsigned ms) { hold.Wait(ms); }

class AbortTest : public testing::RunnerTest {
 protected:
  void SetUp() override {
    RunnerTest::SetUp();
    SetSleepFunctionForTesting(HeldSleep);
    testing::SetWebApiOriginForTesting(peer_.Url(""));
  }

  testing::LocalPeer peer_;
};

TEST_F(AbortTest, DestroyedDuringEachRequestAndEachWaitStopsWithinOneRequestAndOneWait) {
  const auto& ok = testing::kAllOk;
  struct Row {
    size_t step;  // index into ok
    int wait;     // 0: hold that step's request; 1 or 2: the step fails and that wait is held
  };
  std::vector<Row> rows;
  for (size_t step = 0; step < ok.size(); ++step) {
    for (int wait : {0, 1, 2}) rows.push_back({step, wait});
  }
  for (const Row& row : rows) {
    const std::string& path = ok[row.step].first;
    const std::string name = path + " wait " + std::to_string(row.wait);
    hold.Reset();
    hold.hold_wait = row.wait;
    for (const auto& step : ok) peer_.SetAnswer(step.first, step.second);
    if (row.wait > 0) {
      peer_.SetAnswer(path, testing::Reply("{}", 500));  // retried
    } else {
      const std::string body = ok[row.step].second.body;
      peer_.SetHandler(path, [body](const httplib::Request&, httplib::Response& res) {
        hold.Arrive();
        res.set_content(body, "application/json");
      });
    }
    auto accessor = std::make_unique<WebServiceAccessor>();
    ASSERT_EQ(accessor->Initialize(3, "t0", peer_.Url("/dispatcher/").c_str(), 0, 0, "g", true,
                                   "k0", 0, 0, 0, 0, 0, 709),
              WS_SUCCESS);
    ClearRecords();
    ASSERT_EQ(accessor->Start(), WS_SUCCESS);
    ASSERT_TRUE(hold.WaitReached()) << name;

    const size_t requests = peer_.Requests().size();
    const size_t waits = hold.Waits();
    std::thread destroyer([&accessor] { accessor.reset(); });
    // Lets the destructor raise the abort flag before the phase ends; the
    // checks below hold either way, only more loosely ordered.
    std::this_thread::sleep_for(milliseconds(200));
    hold.Open();
    destroyer.join();

    EXPECT_EQ(Results(), std::vector<ErrorCode>{WS_ERROR_ABORTED}) << name;
    ASSERT_FALSE(States().empty()) << name;
    EXPECT_EQ(States().back(), 5) << name;
    // A held request ends the run; a held wait is followed by one attempt.
    EXPECT_EQ(peer_.Requests().size() - requests, row.wait > 0 ? 1u : 0u) << name;
    EXPECT_EQ(hold.Waits(), waits) << name;
  }
}

}  // namespace
}  // namespace vanta
