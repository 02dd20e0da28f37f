// Checks of the measuring harness itself: the alternation of the sides, the
// results kept for the table, the table's ratios and target verdicts, and
// the child processes whose peak resident size is taken.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "bench/Benchmarks.h"
#include "bench/Memory.h"
#include "bench/Paired.h"
#include "bench/Report.h"

namespace vanta {
namespace bench {
namespace {

using BenchRun = benchmark::BenchmarkReporter::Run;

// Runs the benchmarks whose names match filter into reporter, its console
// output thrown away.
void RunInto(CollectingReporter& reporter, const std::string& filter) {
  std::ostringstream sink;
  reporter.SetOutputStream(&sink);
  reporter.SetErrorStream(&sink);
  benchmark::RunSpecifiedBenchmarks(&reporter, filter);
}

TEST(PairedTest, SidesAlternateInTurnedOrderAndEachGetsItsMedian) {
  std::string calls;
  benchmark::RegisterBenchmark("paired_probe", [&calls](benchmark::State& state) {
    RunPaired(state,
              {{"a", [&] { return calls += 'a', true; }},
               {"b", [&] { return calls += 'b', true; }},
               {"c", [&] { return calls += 'c', true; }}},
              2);
  })->Iterations(3);
  CollectingReporter reporter;
  RunInto(reporter, "paired_probe");
  EXPECT_EQ(calls,
            "aabbcc"
            "bbccaa"
            "ccaabb");
  for (const char* side : {"a", "b", "c", "a_cpu", "b_cpu", "c_cpu"}) {
    EXPECT_GE(reporter.Nanos(std::string("paired_probe/") + side), 0) << side;
  }
}

TEST(PairedTest, AFailingSideEndsTheRunAndLeavesNoResult) {
  int b_calls = 0;
  benchmark::RegisterBenchmark("paired_failing", [&b_calls](benchmark::State& state) {
    RunPaired(state, {{"a", [] { return true; }}, {"b", [&] { return ++b_calls < 3; }}}, 2);
  })->Iterations(10);
  CollectingReporter reporter;
  RunInto(reporter, "paired_failing");
  EXPECT_EQ(b_calls, 3);
  EXPECT_LT(reporter.Nanos("paired_failing/a"), 0);
}

BenchRun MakeRun(const std::string& name, double value,
                 BenchRun::RunType type = BenchRun::RT_Iteration,
                 const std::string& aggregate = "") {
  const size_t slash = name.find('/');
  BenchRun run;
  run.run_name.function_name = name.substr(0, slash);
  run.run_type = type;
  run.aggregate_name = aggregate;
  run.counters[name.substr(slash + 1)] = benchmark::Counter(value);
  return run;
}

// A reporter fed runs by hand.
void Feed(CollectingReporter& reporter, const std::vector<BenchRun>& runs) {
  std::ostringstream sink;
  reporter.SetOutputStream(&sink);
  reporter.SetErrorStream(&sink);
  reporter.ReportRuns(runs);
}

TEST(ReportTest, KeepsTheMedianOfRepetitionsAndDropsFailedRuns) {
  CollectingReporter reporter;
  BenchRun failed = MakeRun("x/failed", 5);
  failed.error_occurred = true;
  Feed(reporter,
       {MakeRun("x/side", 100), MakeRun("x/side", 999, BenchRun::RT_Aggregate, "mean"),
        MakeRun("x/side", 200, BenchRun::RT_Aggregate, "median"),
        MakeRun("x/side", 300, BenchRun::RT_Aggregate, "stddev"), MakeRun("y/only", 7), failed});
  EXPECT_EQ(reporter.Nanos("x/side"), 200);
  EXPECT_EQ(reporter.Nanos("y/only"), 7);
  EXPECT_LT(reporter.Nanos("x/failed"), 0);
  EXPECT_LT(reporter.Nanos("x/absent"), 0);
}

TEST(ReportTest, TableGivesRatiosAndTargetVerdicts) {
  const struct {
    double negotiation_library, negotiation_raw;
    double monitor_library, monitor_raw, monitor_fresh;
    std::vector<std::string> expected;
  } rows[] = {
      {1000e3,
       1000e3,
       50e3,
       50e3,
       100e3,
       {"| 1.000 | <= 1.05 | yes |", "| 1.000 (time) | <= 1.05 | yes |",
        "| 2.00 (rate) | >= 2 | yes |", "| 20000 | raw libcurl kept alive 20000 |"}},
      {1100e3,
       1000e3,
       60e3,
       50e3,
       90e3,
       {"| 1.100 | <= 1.05 | NO |", "| 1.200 (time) | <= 1.05 | NO |",
        "| 1.50 (rate) | >= 2 | NO |", "| 1100.0 | raw libcurl 1000.0 |"}},
  };
  for (const auto& row : rows) {
    CollectingReporter reporter;
    Feed(reporter, {MakeRun(kNegotiationLibrary, row.negotiation_library),
                    MakeRun(kNegotiationRaw, row.negotiation_raw),
                    MakeRun(kMonitorLibrary, row.monitor_library),
                    MakeRun(kMonitorRawKeepAlive, row.monitor_raw),
                    MakeRun(kMonitorRawFresh, row.monitor_fresh)});
    TableInput input;
    input.times = &reporter;
    input.reports = 100;
    std::ostringstream table;
    PrintTable(input, table);
    for (const std::string& text : row.expected) {
      EXPECT_NE(table.str().find(text), std::string::npos) << text << "\n" << table.str();
    }
  }
}

TEST(ReportTest, MessageCostSumsEveryMessageAndIsUnknownWhenOneIsMissing) {
  CollectingReporter reporter;
  Feed(reporter,
       {MakeRun("m1/library", 100), MakeRun("m1/picojson", 100), MakeRun("m1/nlohmann", 400),
        MakeRun("m2/library", 200), MakeRun("m2/picojson", 100), MakeRun("m2/nlohmann", 200)});
  TableInput input;
  input.times = &reporter;
  std::ostringstream full;
  input.messages = {"m1", "m2"};
  PrintTable(input, full);
  EXPECT_NE(full.str().find("| 300 | picojson parse+serialize 200 | 1.50 | <= 1.3 | NO |"),
            std::string::npos)
      << full.str();
  EXPECT_NE(full.str().find("| 300 | nlohmann/json 600 | 0.50 |"), std::string::npos);

  std::ostringstream partial;
  input.messages = {"m1", "m2", "m3"};
  PrintTable(input, partial);
  EXPECT_NE(partial.str().find("| n/a | picojson parse+serialize n/a | n/a | <= 1.3 | n/a |"),
            std::string::npos)
      << partial.str();
}

TEST(MemoryTest, EveryNegotiationChildRunsToTheEnd) {
  // A child that fails (its negotiation refused, or not started at all)
  // reports no size.
  std::vector<PeakRss> sizes = MeasureInProcessNegotiation();
  ASSERT_EQ(sizes.size(), 3u);
  for (const PeakRss& size : sizes) EXPECT_GT(size.kib, 0) << size.what;
}

}  // namespace
}  // namespace bench
}  // namespace vanta
