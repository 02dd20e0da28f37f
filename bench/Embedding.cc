#include "bench/Embedding.h"

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "bench/CApi.h"
#include "bench/Process.h"
#include "platform/Env.h"
#include "vanta/WebServiceAccessor.h"

namespace vanta {
namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

// Token and key value the slow dispatcher accepts without issuing them.
const char kToken[] = "bench-token";
const char kKey[] = "bench-key";
// How long a run is in its phase before it is cancelled.
constexpr auto kInPhase = std::chrono::milliseconds(100);

// Where each phase of a run is held.
struct Setup {
  std::string slow_base;            // token refused with 503 (retried), game service held 5 s
  std::string fast_base;            // answers at once
  std::string temp;                 // TEMP of the process
  std::string hanging_interpreter;  // a ComSpec that never ends
};

// Configures and starts accessor for base; false when that failed.
bool Start(WebServiceAccessor& accessor, const std::string& base, bool token_first,
           bool register_device_id) {
  accessor.SetRegisterDeviceId(register_device_id);
  return !accessor
              .Initialize(1, kToken, base.c_str(), 0, 2, "bench-game", token_first, kKey, 1, 1, 1,
                          0, 1, 709)
              .IsFailure() &&
         !accessor.Start().IsFailure();
}

// One phase: how a run is brought there.
struct Phase {
  const char* name;
  bool hold_lock;  // the identity lock is held by another build meanwhile
  std::function<bool(WebServiceAccessor&, const Setup&)> start;
};

// Registers cancel-<phase>/library: 50 runs, each cancelled kInPhase after
// its start; the time from Cancel() to the end of WaitFor.
void RegisterCancel(const Phase& phase, std::shared_ptr<const Setup> setup) {
  benchmark::RegisterBenchmark(
      (std::string("cancel-") + phase.name + "/library").c_str(),
      [phase, setup](benchmark::State& state) {
        for (auto _ : state) {
          LockAttempt held;  // until the run has ended
          if (phase.hold_lock) held = Env::Get()->TryLockFile(setup->temp + "/id.lock");
          WebServiceAccessor accessor;
          if (!phase.start(accessor, *setup)) {
            state.SkipWithError("the run did not start");
            break;
          }
          std::this_thread::sleep_for(kInPhase);
          const Clock::time_point cancelled = Clock::now();
          accessor.Cancel();
          ErrorCode result;
          accessor.WaitFor(-1, &result);
          state.SetIterationTime(std::chrono::duration<double>(Clock::now() - cancelled).count());
          if (result != ErrorCode(WS_ERROR_ABORTED))
            state.SkipWithError("the run was not cancelled");
        }
      })
      ->UseManualTime()
      ->Iterations(1)
      ->Repetitions(50);
}

void RegisterCancelRows(std::shared_ptr<const Setup> setup) {
  const Phase phases[] = {
      {"retry-wait", false,
       [](WebServiceAccessor& a, const Setup& s) { return Start(a, s.slow_base, true, false); }},
      {"exchange", false,
       [](WebServiceAccessor& a, const Setup& s) { return Start(a, s.slow_base, false, false); }},
      {"helper", false,
       [](WebServiceAccessor& a, const Setup& s) {
         setenv("ComSpec", s.hanging_interpreter.c_str(), 1);
         return Start(a, s.fast_base, true, true);
       }},
      {"lock", true,
       [](WebServiceAccessor& a, const Setup& s) {
         unsetenv("ComSpec");
         return Start(a, s.fast_base, true, true);
       }},
  };
  for (const Phase& phase : phases) RegisterCancel(phase, setup);
  // The accessor destroyed at once after Cancel(), during an exchange.
  benchmark::RegisterBenchmark(
      "destroy-after-cancel/library",
      [setup](benchmark::State& state) {
        for (auto _ : state) {
          auto accessor = std::make_unique<WebServiceAccessor>();
          if (!Start(*accessor, setup->slow_base, false, false)) {
            state.SkipWithError("the run did not start");
            break;
          }
          std::this_thread::sleep_for(kInPhase);
          const Clock::time_point cancelled = Clock::now();
          accessor->Cancel();
          accessor.reset();
          state.SetIterationTime(std::chrono::duration<double>(Clock::now() - cancelled).count());
        }
      })
      ->UseManualTime()
      ->Iterations(1)
      ->Repetitions(50);
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

void RegisterEmbedding(const std::string& vanta, const std::string& scratch,
                       const std::string& base) {
  auto setup = std::make_shared<Setup>();
  const std::string slow_dir = scratch + "/slow";
  std::filesystem::create_directories(slow_dir);
  // Kept for the life of the process: the benchmarks run after this returns.
  static std::unique_ptr<Dispatcher> slow;
  slow = std::make_unique<Dispatcher>(
      vanta, slow_dir, "{}",
      std::vector<std::string>{"--issue", std::string(kToken) + "=" + kKey, "--http-status",
                               "request_token=503", "--delay", "request_gameservice=5000"});
  setup->slow_base = "http://127.0.0.1:" + std::to_string(slow->dispatcher_port) + "/dispatcher/";
  setup->fast_base = base;
  setup->temp = scratch + "/temp";
  std::filesystem::create_directories(setup->temp);
  setenv("TEMP", setup->temp.c_str(), 1);
  setup->hanging_interpreter = scratch + "/hanging-interpreter";
  std::ofstream(setup->hanging_interpreter) << "#!/bin/sh\nexec sleep 30\n";
  chmod(setup->hanging_interpreter.c_str(), 0755);

  RegisterCancelRows(setup);
  // The owner's CPU while it waits for a run held 5 s in its exchange.
  benchmark::RegisterBenchmark("wait-cpu/library",
                               [setup](benchmark::State& state) {
                                 double cpu = 0;
                                 for (auto _ : state) {
                                   WebServiceAccessor accessor;
                                   if (!Start(accessor, setup->slow_base, false, false)) {
                                     state.SkipWithError("the run did not start");
                                     break;
                                   }
                                   const double before = ThreadCpuSeconds();
                                   accessor.WaitFor(-1, nullptr);
                                   cpu = ThreadCpuSeconds() - before;
                                 }
                                 state.counters["owner_cpu_ms"] = cpu * 1e3;
                               })
      ->Iterations(1)
      ->Repetitions(3);
  // A negotiation without registration through each interface.
  for (const auto& [side, negotiate] :
       {std::pair{"library", &NegotiateThroughC}, std::pair{"baseline", &NegotiateThroughCxx}}) {
    benchmark::RegisterBenchmark((std::string("interface/") + side).c_str(),
                                 [setup, negotiate = negotiate](benchmark::State& state) {
                                   for (auto _ : state) {
                                     if (!negotiate(setup->fast_base.c_str())) {
                                       state.SkipWithError("the negotiation failed");
                                       break;
                                     }
                                   }
                                 })
        ->UseRealTime()
        ->MeasureProcessCPUTime();
  }
}

}  // namespace bench
}  // namespace vanta
