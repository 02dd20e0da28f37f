#include "bench/Peer.h"

#include <pthread.h>

#include "bench/Texts.h"

namespace vanta {
namespace bench {

namespace {

// The n-th CPU (from 0) of set, or -1.
int NthCpu(const cpu_set_t& set, int n) {
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set) && n-- == 0) return cpu;
  }
  return -1;
}

bool PinTo(int cpu) {
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  return pthread_setaffinity_np(pthread_self(), sizeof(one), &one) == 0;
}

}  // namespace

BenchPeer::BenchPeer() {
  const bool known =
      pthread_getaffinity_np(pthread_self(), sizeof(caller_cpus_), &caller_cpus_) == 0;
  const int server_cpu = known ? NthCpu(caller_cpus_, 0) : -1;
  const int client_cpu = known ? NthCpu(caller_cpus_, 1) : -1;
  pinned_ = client_cpu >= 0 && PinTo(server_cpu);
  // Threads inherit the affinity of the thread that starts them, so every
  // thread of the peer stays on the server CPU.
  testing::LocalPeer::Tuning tuning;
  tuning.tcp_nodelay = true;  // cpp-httplib writes head and body apart
  tuning.keep_alive_max_count = 1000000;
  peer_ = std::make_unique<testing::LocalPeer>(testing::LocalPeer::Scheme::kHttp, tuning);
  if (pinned_) PinTo(client_cpu);

  auto answer = [](const std::string& body) {
    testing::Answer a;
    a.body = body;
    return a;
  };
  peer_->SetAnswer(kTokenPath, answer(TokenAnswer()));
  peer_->SetAnswer(kAccesstokenPath, answer(AccesstokenAnswer()));
  peer_->SetAnswer(kGameservicePath, answer(GameserviceAnswer()));
  peer_->SetAnswer(kMonitorPath, answer(MonitorAnswer()));
}

BenchPeer::~BenchPeer() {
  peer_.reset();
  if (pinned_) pthread_setaffinity_np(pthread_self(), sizeof(caller_cpus_), &caller_cpus_);
}

}  // namespace bench
}  // namespace vanta
