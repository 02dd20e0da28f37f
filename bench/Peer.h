// The in-process local peer of the network benchmarks: the test suite's
// LocalPeer answering the three dispatcher requests and the launcher
// monitor with the answers of Texts.h, tuned as a production server would
// be (no Nagle delay, connections kept for any number of requests).
#ifndef VANTA_BENCH_PEER_H_
#define VANTA_BENCH_PEER_H_

#include <memory>

#include "tests/support/LocalPeer.h"

namespace vanta {
namespace bench {

std::unique_ptr<testing::LocalPeer> StartPeer();

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_PEER_H_
