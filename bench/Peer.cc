#include "bench/Peer.h"

#include "bench/Texts.h"

namespace vanta {
namespace bench {

std::unique_ptr<testing::LocalPeer> StartPeer() {
  auto peer = std::make_unique<testing::LocalPeer>();
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
