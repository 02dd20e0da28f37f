// Exchanges with the in-process peer: the library next to bare libcurl.
#include <benchmark/benchmark.h>

#include "bench/Benchmarks.h"
#include "bench/Exchanges.h"
#include "bench/Peer.h"
#include "bench/Texts.h"

namespace vanta {
namespace bench {

const char kNegotiationLibrary[] = "negotiation/library";
const char kNegotiationRaw[] = "negotiation/raw_curl";
const char kMonitorLibrary[] = "monitor/library_keepalive";
const char kMonitorRawKeepAlive[] = "monitor/raw_keepalive";
const char kMonitorRawFresh[] = "monitor/raw_fresh_handle";

namespace {

// Runs op once per iteration; a failed exchange ends the run as an error so
// that no broken run is read as a time.
template <typename Op>
void Loop(benchmark::State& state, Op op) {
  for (auto _ : state) {
    if (!op()) {
      state.SkipWithError("exchange failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

bool StartService(benchmark::State& state, WebService& ws) {
  if (ws.Initialize() == WS_SUCCESS) return true;
  state.SkipWithError("WebService::Initialize failed");
  return false;
}

void NegotiationLibrary(benchmark::State& state) {
  auto peer = StartPeer();
  WebService ws;
  if (!StartService(state, ws)) return;
  ws.SetUrlArbiterBase(peer->Url(kDispatcherBase));
  Loop(state, [&] { return LibraryNegotiation(ws); });
}

void NegotiationRaw(benchmark::State& state) {
  auto peer = StartPeer();
  const std::string base = peer->Url(kDispatcherBase);
  Loop(state, [&] { return RawNegotiation(base); });
}

void MonitorLibrary(benchmark::State& state) {
  auto peer = StartPeer();
  WebService ws;
  if (!StartService(state, ws)) return;
  ws.SetUriRequestLauncherMonitorPut(peer->Url(kMonitorPath));
  Loop(state, [&] { return LibraryMonitorReport(ws); });
}

void MonitorRawKeepAlive(benchmark::State& state) {
  auto peer = StartPeer();
  const std::string url = peer->Url(kMonitorPath);
  RawKeepAlive connection;
  Loop(state, [&] { return RawMonitorReport(connection, url); });
}

void MonitorRawFresh(benchmark::State& state) {
  auto peer = StartPeer();
  const std::string url = peer->Url(kMonitorPath);
  Loop(state, [&] { return RawFreshMonitorReport(url); });
}

}  // namespace

void RegisterNetworkBenchmarks(int reports) {
  benchmark::RegisterBenchmark(kNegotiationLibrary, NegotiationLibrary)
      ->Unit(benchmark::kMicrosecond)
      ->UseRealTime();
  benchmark::RegisterBenchmark(kNegotiationRaw, NegotiationRaw)
      ->Unit(benchmark::kMicrosecond)
      ->UseRealTime();
  for (auto entry : {std::make_pair(kMonitorLibrary, MonitorLibrary),
                     std::make_pair(kMonitorRawKeepAlive, MonitorRawKeepAlive),
                     std::make_pair(kMonitorRawFresh, MonitorRawFresh)}) {
    benchmark::RegisterBenchmark(entry.first, entry.second)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime()
        ->Iterations(reports);
  }
}

}  // namespace bench
}  // namespace vanta
