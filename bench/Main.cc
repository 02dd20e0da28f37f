// vanta_bench VANTA [benchmark options]: the library next to bare libcurl
// and bare picojson, against `vanta dispatcher` (VANTA, of the same build)
// in a process of its own. Each measurement is a set of benchmarks named
// <row>/<side>, side "library" next to "baseline" (and others a row may
// compare); scripts/bench-table.py turns their JSON output into the table
// of medians, ratios and targets.
#include <benchmark/benchmark.h>
#include <picojson.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/Allocations.h"
#include "bench/Baseline.h"
#include "bench/Embedding.h"
#include "bench/Process.h"
#include "messages/Accesstoken.h"
#include "messages/Gameservice.h"
#include "messages/LauncherMonitor.h"
#include "messages/Token.h"
#include "service/WebServiceHttp.h"
#include "service/WebServiceImpl.h"
#include "vanta/WebService.h"

namespace vanta {
namespace bench {
namespace {

constexpr int kClientVersion = 3;
const char kGameId[] = "bench-game";
const char kRemoteIp[] = "192.0.2.5";
const WebService::ClientEnvironmentInfo kEnv{{{"os", "linux"}, {"cpu", "x86-64"}}};

// One call of a side; false when a request or an answer check failed.
using Call = std::function<bool()>;

// The game service the peer answers with: 8 audio and 8 video levels.
std::string ServiceJson() {
  std::string audio, video;
  for (int level = 0; level < 8; ++level) {
    const std::string start = std::string(level ? "," : "") + "{\"level\":" + std::to_string(level);
    audio += start + ",\"bitrate\":" + std::to_string(32 + 32 * level) + "}";
    video += start + ",\"fps\":" + (level < 4 ? "30" : "60") +
             ",\"resolutionRatio\":" + std::to_string(65 + 5 * level) +
             ",\"bitrateRatio\":" + std::to_string(30 + 10 * level) + "}";
  }
  return "{\"key1\":\"5f2b9c0e7a1d4c3b\",\"key2\":\"a93c1e7f0b2d4e6c\",\"config\":{\"version\":1,"
         "\"audio\":[" +
         audio + "],\"video\":[" + video + "]}}";
}

struct Negotiated {
  std::string token, key, access_token, ipv4, ipv6, key1, key2;
  int control_port = 0, video_port = 0, audio_port = 0, input_port = 0;
  WebService::QualityParams quality = {};
};

std::string GameserviceBody(const std::string& access_token) {
  return GameserviceRequestBody(kClientVersion, access_token, 2, 1, 1, 0, 1, 0, 1, 709, 0, kEnv);
}

bool CheckGameservice(const std::string& answer, Negotiated& n) {
  return ParseGameserviceResponse(answer, n.ipv4, n.ipv6, n.control_port, n.video_port,
                                  n.audio_port, n.input_port, n.key1, n.key2, n.quality)
      .accepted();
}

bool Ok(ErrorCode code) { return !code.IsFailure(); }

// What the benchmarks share: the dispatcher, the library's service and the
// baselines, and the answers of a negotiation, for the checks alone.
struct Bench {
  Bench(const std::string& vanta_path, const std::string& scratch_dir)
      : vanta(vanta_path),
        scratch(scratch_dir),
        dispatcher(vanta, scratch, ServiceJson()),
        base("http://127.0.0.1:" + std::to_string(dispatcher.dispatcher_port) + "/dispatcher/"),
        monitor_uri("http://127.0.0.1:" + std::to_string(dispatcher.monitor_port) + "/monitor/put"),
        monitor_url(monitor_uri + "?" + LauncherMonitorQuery(3, 10, 20, 30, 40, kRemoteIp, 5000)),
        raw{{base + "request_token", base + "request_accesstoken", base + "request_gameservice"},
            {TokenRequestBody(kClientVersion, kGameId, 0),
             AccesstokenRequestBody(kClientVersion, "~", "~", 0), GameserviceBody("~")},
            {}} {
    if (!Ok(library.Initialize())) throw std::runtime_error("Initialize failed");
    library.SetUrlArbiterBase(base);
    library.SetUriRequestLauncherMonitorPut(monitor_uri);
    // An accepted game service request needs the access token, which needs the token.
    const bool negotiated = Step(0) && Step(1) && Step(2) && raw.Post(0) && raw.Post(1) &&
                            raw.Post(2) &&
                            raw.answers[2].find("\"status\":\"ok\"") != std::string::npos;
    if (!negotiated || lib.quality.video_level_count != 8 || lib.quality.audio_level_count != 8) {
      throw std::runtime_error("the negotiations did not bring 8+8 levels");
    }
  }

  // Step 0 (token), 1 (access token) or 2 (game service) of a negotiation.
  bool Step(int step) {
    if (step == 0)
      return Ok(library.RequestZuToken(kClientVersion, kGameId, 0, lib.token, lib.key));
    if (step == 1) {
      return Ok(
          library.RequestZuAccesstoken(kClientVersion, lib.token, lib.key, 0, lib.access_token));
    }
    return Ok(library.RequestZuGameservice(kClientVersion, lib.access_token, 2, 1, 1, 0, 1, 0, 1,
                                           709, 0, kEnv, lib.ipv4, lib.ipv6, lib.control_port,
                                           lib.video_port, lib.audio_port, lib.input_port, lib.key1,
                                           lib.key2, lib.quality));
  }
  bool Report() {
    return Ok(library.RequestLauncherMonitorPut(3, 10, 20, 30, 40, kRemoteIp, 5000));
  }
  // A report through the library's transport on a handle of its own.
  bool FreshReport() {
    WebServiceHttp http;
    WebServiceImpl impl;
    impl.Attach(&http);
    std::string answer;
    return Ok(impl.LauncherMonitorPut(monitor_uri, 3, 10, 20, 30, 40, kRemoteIp, 5000, answer,
                                      nullptr)) &&
           ParseLauncherMonitorResponse(answer).accepted();
  }

  std::string vanta, scratch;
  Dispatcher dispatcher;
  std::string base, monitor_uri, monitor_url;
  WebService library;
  Negotiated lib, checked;
  RawNegotiation raw;
  RawKeptAlive raw_monitor;
};

struct Side {
  const char* name;
  Call call;
};

// Registers <row>/<side> for each side: one call per iteration, timed by
// the wall clock and by this process's CPU time (all threads; the peer's is
// not in it).
void Timed(const std::string& row, std::initializer_list<Side> sides) {
  for (const Side& side : sides) {
    benchmark::RegisterBenchmark((row + "/" + side.name).c_str(),
                                 [call = side.call](benchmark::State& state) {
                                   for (auto _ : state) {
                                     if (!call()) {
                                       state.SkipWithError("a request or an answer check failed");
                                       break;
                                     }
                                   }
                                 })
        ->UseRealTime()
        ->MeasureProcessCPUTime();
  }
}

// Runs steps in order; only step `counted` adds its allocations to *count
// (none when count is nullptr).
bool RunSteps(const std::vector<Call>& steps, size_t counted, AllocationCount* count) {
  for (size_t i = 0; i < steps.size(); ++i) {
    std::optional<Counted> scope;
    if (i == counted && count != nullptr) scope.emplace(count);
    if (!steps[i]()) return false;
  }
  return true;
}

struct CountedSide {
  const char* name;
  std::vector<Call> steps;
};

// Registers <row>/<side> for each side: ten rounds of its steps after one
// that warms up, with the allocation calls of step `counted` as the
// counters "new" and "curl", per round.
void Allocations(const std::string& row, size_t counted, std::initializer_list<CountedSide> sides) {
  for (const CountedSide& side : sides) {
    benchmark::RegisterBenchmark(
        (row + "/" + side.name).c_str(),
        [steps = side.steps, counted](benchmark::State& state) {
          AllocationCount count;
          bool ok = RunSteps(steps, counted, nullptr);
          for (auto _ : state) ok = ok && RunSteps(steps, counted, &count);
          if (!ok) state.SkipWithError("a counted request failed");
          using benchmark::Counter;
          state.counters["new"] = Counter(static_cast<double>(count.cxx), Counter::kAvgIterations);
          state.counters["curl"] =
              Counter(static_cast<double>(count.curl), Counter::kAvgIterations);
        })
        ->Iterations(10)
        ->Repetitions(1);
  }
}

// Registers <row>/<side>: the peak resident size of one run of argv, in the
// counter "peak_kib", over five runs.
void PeakRss(const std::string& row, const char* side, const std::vector<std::string>& argv,
             const std::vector<std::string>& env) {
  benchmark::RegisterBenchmark((row + "/" + side).c_str(),
                               [argv, env](benchmark::State& state) {
                                 long kib = -1;
                                 for (auto _ : state) kib = PeakRssKib(argv, env);
                                 if (kib < 0) state.SkipWithError(("failed: " + argv[1]).c_str());
                                 state.counters["peak_kib"] = static_cast<double>(kib);
                               })
      ->Iterations(1)
      ->Repetitions(5);
}

// The messages alone: three bodies built and three answers checked, against
// picojson serialising and parsing the same.
void RegisterMessages(Bench& b) {
  auto bodies = std::make_shared<std::vector<picojson::value>>(3);
  for (int k = 0; k < 3; ++k) picojson::parse((*bodies)[k], b.raw.Body(k));
  Timed("messages",
        {{"library",
          [&b] {
            benchmark::DoNotOptimize(TokenRequestBody(kClientVersion, kGameId, 0));
            benchmark::DoNotOptimize(
                AccesstokenRequestBody(kClientVersion, b.lib.token, b.lib.key, 0));
            benchmark::DoNotOptimize(GameserviceBody(b.lib.access_token));
            Negotiated& c = b.checked;
            return ParseTokenResponse(b.raw.answers[0], c.token, c.key).accepted() &&
                   ParseAccesstokenResponse(b.raw.answers[1], c.access_token).accepted() &&
                   CheckGameservice(b.raw.answers[2], c);
          }},
         {"baseline", [&b, bodies] {
            for (int k = 0; k < 3; ++k) {
              picojson::value answer;
              if (!picojson::parse(answer, b.raw.answers[k]).empty()) return false;
              benchmark::DoNotOptimize((*bodies)[k].serialize());
            }
            return true;
          }}});
}

void RegisterAll(Bench& b) {
  Timed("negotiation",
        {{"library", [&b] { return b.Step(0) && b.Step(1) && b.Step(2); }},
         {"baseline", [&b] { return b.raw.Post(0) && b.raw.Post(1) && b.raw.Post(2); }}});
  Timed("check", {{"library", [&b] { return CheckGameservice(b.raw.answers[2], b.checked); }},
                  {"baseline", [&b] {
                     picojson::value value;
                     return picojson::parse(value, b.raw.answers[2]).empty();
                   }}});
  const std::vector<Call> library_steps = {[&b] { return b.Step(0); }, [&b] { return b.Step(1); },
                                           [&b] { return b.Step(2); }};
  const std::vector<Call> raw_steps = {[&b] { return b.raw.Post(0); },
                                       [&b] { return b.raw.Post(1); },
                                       [&b] { return b.raw.Post(2); }};
  const char* const steps[] = {"allocations-token", "allocations-accesstoken",
                               "allocations-gameservice"};
  for (size_t step = 0; step < 3; ++step) {
    Allocations(steps[step], step, {{"library", library_steps}, {"baseline", raw_steps}});
  }
  Allocations("allocations-report", 0,
              {{"library", {[&b] { return b.Report(); }}},
               {"baseline", {[&b] { return b.raw_monitor.Get(b.monitor_url); }}}});
  Timed("monitor", {{"library", [&b] { return b.Report(); }},
                    {"baseline", [&b] { return b.raw_monitor.Get(b.monitor_url); }},
                    {"fresh", [&b] { return b.FreshReport(); }}});
  RegisterMessages(b);
  std::filesystem::create_directory(b.scratch + "/temp");
  // A missing interpreter leaves no device identifier to register.
  const std::vector<std::string> env = {"ComSpec=" + b.scratch + "/no-such-interpreter",
                                        "TEMP=" + b.scratch + "/temp"};
  PeakRss("rss", "library",
          {b.vanta, "negotiate", "--request-token-first", "--gameid", kGameId, "--arbiter-base",
           b.base},
          env);
  PeakRss("rss", "baseline", {b.vanta, "--help"}, env);
  RegisterEmbedding(b.vanta, b.scratch, b.base);
}

}  // namespace
}  // namespace bench
}  // namespace vanta

int main(int argc, char** argv) {
  vanta::bench::InstallCurlAllocators();
  benchmark::Initialize(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: vanta_bench VANTA [benchmark options]\n");
    return 2;
  }
  std::string scratch = std::filesystem::temp_directory_path() / "vanta-bench-XXXXXX";
  if (mkdtemp(scratch.data()) == nullptr) {
    std::perror("vanta_bench: mkdtemp");
    return 1;
  }
  int status = 0;
  try {
    vanta::bench::Bench bench(argv[1], scratch);
    vanta::bench::RegisterAll(bench);
    benchmark::RunSpecifiedBenchmarks();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vanta_bench: %s\n", e.what());
    status = 1;
  }
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  curl_global_cleanup();
  return status;
}
