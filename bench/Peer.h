// The in-process local peer of the network benchmarks: the test suite's
// LocalPeer answering the three dispatcher requests and the launcher
// monitor with the answers of Texts.h, tuned as a production server would
// be (no Nagle delay, connections kept for any number of requests).
#ifndef VANTA_BENCH_PEER_H_
#define VANTA_BENCH_PEER_H_

#include <sched.h>

#include <memory>

#include "tests/support/LocalPeer.h"

namespace vanta {
namespace bench {

// On a machine with two or more CPUs the peer's threads run on the first
// CPU of the calling thread's set and the calling thread (the client) on
// the second until the peer goes: a connection's server thread then never
// shares the client's CPU in one run and not in the next, which otherwise
// halves or doubles a side's time at random.
class BenchPeer {
 public:
  BenchPeer();
  ~BenchPeer();
  BenchPeer(const BenchPeer&) = delete;
  BenchPeer& operator=(const BenchPeer&) = delete;

  testing::LocalPeer* operator->() const { return peer_.get(); }

 private:
  cpu_set_t caller_cpus_;
  bool pinned_ = false;
  std::unique_ptr<testing::LocalPeer> peer_;
};

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_PEER_H_
