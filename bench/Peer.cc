#include "bench/Peer.h"

#include "bench/Texts.h"

namespace vanta {
namespace bench {

std::unique_ptr<testing::LocalPeer> StartPeer() {
  // A kept-alive connection must not end every few requests, and an answer
  // must not wait for the client's delayed acknowledgement of its headers
  // before its body goes out (cpp-httplib writes them apart).
  testing::LocalPeer::Tuning tuning;
  tuning.tcp_nodelay = true;
  tuning.keep_alive_max_count = 1000000;
  auto peer = std::make_unique<testing::LocalPeer>(testing::LocalPeer::Scheme::kHttp, tuning);
  auto answer = [](const std::string& body) {
    testing::Answer a;
    a.body = body;
    return a;
  };
  peer->SetAnswer(kTokenPath, answer(TokenAnswer()));
  peer->SetAnswer(kAccesstokenPath, answer(AccesstokenAnswer()));
  peer->SetAnswer(kGameservicePath, answer(GameserviceAnswer()));
  peer->SetAnswer(kMonitorPath, answer(MonitorAnswer()));
  return peer;
}

}  // namespace bench
}  // namespace vanta
