// Exchanges with the in-process peer: the library next to bare libcurl.
#include <benchmark/benchmark.h>

#include "bench/Benchmarks.h"
#include "bench/Exchanges.h"
#include "bench/Paired.h"
#include "bench/Peer.h"
#include "bench/Texts.h"

namespace vanta {
namespace bench {

const char kNegotiationLibrary[] = "negotiation/library";
const char kNegotiationRaw[] = "negotiation/raw_curl";
const char kNegotiationRawMessages[] = "negotiation/raw_curl_with_messages";
const char kMonitorLibrary[] = "monitor/library_keepalive";
const char kMonitorRawKeepAlive[] = "monitor/raw_keepalive";
const char kMonitorRawFresh[] = "monitor/raw_fresh_handle";

namespace {

constexpr int kNegotiationRounds = 300;
constexpr int kReportBatch = 20;

bool StartService(benchmark::State& state, WebService& ws) {
  if (ws.Initialize() == WS_SUCCESS) return true;
  state.SkipWithError("WebService::Initialize failed");
  return false;
}

void Negotiation(benchmark::State& state) {
  BenchPeer peer;
  const std::string base = peer->Url(kDispatcherBase);
  WebService ws;
  if (!StartService(state, ws)) return;
  ws.SetUrlArbiterBase(base);
  RunPaired(state,
            {{"library", [&] { return LibraryNegotiation(ws); }},
             {"raw_curl", [&] { return RawNegotiation(base); }},
             {"raw_curl_with_messages", [&] { return RawNegotiationWithMessages(base); }}},
            1);
}

void Monitor(benchmark::State& state) {
  BenchPeer peer;
  const std::string url = peer->Url(kMonitorPath);
  WebService ws;
  if (!StartService(state, ws)) return;
  ws.SetUriRequestLauncherMonitorPut(url);
  RawKeepAlive connection;
  RunPaired(state,
            {{"library_keepalive", [&] { return LibraryMonitorReport(ws); }},
             {"raw_keepalive", [&] { return RawMonitorReport(connection, url); }},
             {"raw_fresh_handle", [&] { return RawFreshMonitorReport(url); }}},
            kReportBatch);
}

}  // namespace

int RegisterNetworkBenchmarks(int reports) {
  const int rounds = (reports + kReportBatch - 1) / kReportBatch;
  benchmark::RegisterBenchmark("negotiation", Negotiation)
      ->Iterations(kNegotiationRounds)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  benchmark::RegisterBenchmark("monitor", Monitor)
      ->Iterations(rounds)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  return rounds * kReportBatch;
}

}  // namespace bench
}  // namespace vanta
