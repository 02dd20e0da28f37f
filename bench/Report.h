// Collects the benchmark results of one run and prints the table of ratios.
#ifndef VANTA_BENCH_REPORT_H_
#define VANTA_BENCH_REPORT_H_

#include <benchmark/benchmark.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "bench/Memory.h"

namespace vanta {
namespace bench {

// A console reporter that also keeps the counters of every benchmark (the
// sides' nanoseconds per call, see Paired.h) under "<benchmark>/<counter>":
// the median of the repetitions when there are several, otherwise the
// single run. Runs that ended in an error are not kept.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override;

  // The value kept under name, or a negative value when there is none.
  double Nanos(const std::string& name) const;

 private:
  std::map<std::string, double> median_;
  std::map<std::string, double> single_;
};

struct TableInput {
  const CollectingReporter* times = nullptr;
  std::vector<std::string> messages;  // message names registered
  int reports = 0;                    // monitor reports per run
  std::vector<AllocRow> allocations;
  std::vector<PeakRss> in_process_rss;
  std::vector<PeakRss> tool_rss;
};

// Writes the table as Markdown.
void PrintTable(const TableInput& in, std::ostream& os);

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_REPORT_H_
