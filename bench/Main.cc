// vanta_bench: runs every benchmark side by side in one run and prints one
// table of ratios (Markdown) on standard output; Google Benchmark's own
// report goes to standard error.
//
// Own options (the rest goes to Google Benchmark):
//   --reports=N        monitor reports per run (default 2000)
//   --vanta=PATH       the vanta command, for its peak resident size
//   --rss-child=MODE --rss-base=URL
//                      internal: one child of the memory measurement
#include <benchmark/benchmark.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "bench/AllocCounter.h"
#include "bench/Benchmarks.h"
#include "bench/Memory.h"
#include "bench/Report.h"

namespace {

bool TakeOption(const std::string& arg, const std::string& name, std::string* value) {
  const std::string prefix = "--" + name + "=";
  if (arg.compare(0, prefix.size(), prefix) != 0) return false;
  *value = arg.substr(prefix.size());
  return true;
}

bool HasFlag(const std::vector<char*>& args, const std::string& name) {
  for (char* a : args) {
    if (std::string(a).compare(0, name.size(), name) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vanta::bench;
  const int child_status = RssChildMain(argc, argv);
  if (child_status >= 0) return child_status;
  std::string reports_text = "2000", vanta;
  std::vector<char*> args = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!TakeOption(arg, "reports", &reports_text) && !TakeOption(arg, "vanta", &vanta)) {
      args.push_back(argv[i]);
    }
  }
  const int reports = std::atoi(reports_text.c_str());
  if (reports <= 0) {
    std::cerr << "--reports must be a positive number\n";
    return 2;
  }
  if (!InstallCurlAllocCounter()) {
    std::cerr << "libcurl refused the counting allocator\n";
    return 1;
  }

  // The sides of each comparison alternate inside every benchmark (see
  // Paired.h); on top of that each benchmark is repeated, the repetitions
  // of all of them interleaved in random order, and the median is kept.
  static char repetitions[] = "--benchmark_repetitions=3";
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  static char aggregates[] = "--benchmark_report_aggregates_only=true";
  if (!HasFlag(args, "--benchmark_repetitions")) args.push_back(repetitions);
  if (!HasFlag(args, "--benchmark_enable_random_interleaving")) args.push_back(interleave);
  if (!HasFlag(args, "--benchmark_report_aggregates_only")) args.push_back(aggregates);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

  TableInput input;
  input.reports = RegisterNetworkBenchmarks(reports);
  input.messages = RegisterMessageBenchmarks();
  CollectingReporter reporter;
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  input.times = &reporter;
  input.allocations = CountAllocations();
  input.in_process_rss = MeasureInProcessNegotiation();
  if (!vanta.empty()) input.tool_rss = MeasureToolNegotiation(vanta);
  PrintTable(input, std::cout);
  return 0;
}
