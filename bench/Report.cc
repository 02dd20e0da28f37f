#include "bench/Report.h"

#include <cstdio>

#include "bench/Benchmarks.h"

namespace vanta {
namespace bench {

void CollectingReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    if (run.error_occurred) continue;
    const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
    if (run.run_type == Run::RT_Aggregate && !median) continue;
    for (const auto& counter : run.counters) {
      const std::string key = run.run_name.function_name + "/" + counter.first;
      (median ? median_ : single_)[key] = counter.second.value;
    }
  }
  ConsoleReporter::ReportRuns(runs);
}

double CollectingReporter::Nanos(const std::string& name) const {
  auto m = median_.find(name);
  if (m != median_.end()) return m->second;
  auto s = single_.find(name);
  return s != single_.end() ? s->second : -1;
}

namespace {

std::string Fixed(double value, int decimals) {
  if (value < 0) return "n/a";
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

std::string Ratio(double a, double b) { return a < 0 || b <= 0 ? "n/a" : Fixed(a / b, 2); }

// "yes"/"NO" for ratio against a bound; "" when there is no bound.
std::string Met(double ratio, double bound, bool at_most) {
  if (ratio < 0) return "n/a";
  return (at_most ? ratio <= bound : ratio >= bound) ? "yes" : "NO";
}

class Table {
 public:
  explicit Table(std::ostream& os) : os_(os) {
    os_ << "| measurement | library | baseline | ratio | target | met |\n"
        << "|---|---|---|---|---|---|\n";
  }
  void Row(const std::string& what, const std::string& library, const std::string& baseline,
           const std::string& ratio, const std::string& target = "", const std::string& met = "") {
    os_ << "| " << what << " | " << library << " | " << baseline << " | " << ratio << " | "
        << target << " | " << met << " |\n";
  }

 private:
  std::ostream& os_;
};

// a/b when both are known, else -1.
double Div(double a, double b) { return a < 0 || b <= 0 ? -1 : a / b; }

}  // namespace

void PrintTable(const TableInput& in, std::ostream& os) {
  const CollectingReporter& t = *in.times;
  Table table(os);

  const double neg_lib = t.Nanos(kNegotiationLibrary);
  const double neg_raw = t.Nanos(kNegotiationRaw);
  const double neg_ratio = Div(neg_lib, neg_raw);
  table.Row("negotiation: 3 dispatcher POSTs, fresh handles (us)", Fixed(neg_lib / 1e3, 1),
            "raw libcurl " + Fixed(neg_raw / 1e3, 1), Fixed(neg_ratio, 3), "<= 1.05",
            Met(neg_ratio, 1.05, true));

  const double neg_msg = t.Nanos(kNegotiationRawMessages);
  table.Row("negotiation, the same with the library's message stages on raw libcurl (us)",
            Fixed(neg_lib / 1e3, 1), "raw libcurl + message stages " + Fixed(neg_msg / 1e3, 1),
            Ratio(neg_lib, neg_msg));
  const double cpu_lib = t.Nanos(std::string(kNegotiationLibrary) + "_cpu");
  const double cpu_raw = t.Nanos(std::string(kNegotiationRaw) + "_cpu");
  const double cpu_msg = t.Nanos(std::string(kNegotiationRawMessages) + "_cpu");
  table.Row(
      "negotiation, client thread CPU time (us)", Fixed(cpu_lib / 1e3, 1),
      "raw libcurl " + Fixed(cpu_raw / 1e3, 1) + "; + message stages " + Fixed(cpu_msg / 1e3, 1),
      Ratio(cpu_lib, cpu_raw) + " / " + Ratio(cpu_lib, cpu_msg));

  double lib = 0, pico = 0, nlo = 0;
  bool complete = true;
  for (const std::string& m : in.messages) {
    const double l = t.Nanos(m + "/library"), p = t.Nanos(m + "/picojson"),
                 n = t.Nanos(m + "/nlohmann");
    complete = complete && l >= 0 && p >= 0 && n >= 0;
    lib += l;
    pico += p;
    nlo += n;
  }
  if (!complete) lib = pico = nlo = -1;
  const std::string count = std::to_string(in.messages.size());
  const double pico_ratio = Div(lib, pico);
  table.Row("message cost, " + count + " bodies and answers summed (ns)", Fixed(lib, 0),
            "picojson parse+serialize " + Fixed(pico, 0), Fixed(pico_ratio, 2), "<= 1.3",
            Met(pico_ratio, 1.3, true));
  table.Row("message cost, same work (ns)", Fixed(lib, 0), "nlohmann/json " + Fixed(nlo, 0),
            Ratio(lib, nlo));

  const double parse_lib = t.Nanos(kGameserviceParseLibrary);
  const double parse_bare = t.Nanos(kGameserviceParseBare);
  table.Row("game service answer, 8+8 levels, response stage (ns)", Fixed(parse_lib, 0),
            "bare picojson::parse " + Fixed(parse_bare, 0), Ratio(parse_lib, parse_bare));

  const double mon_lib = t.Nanos(kMonitorLibrary);
  const double mon_raw = t.Nanos(kMonitorRawKeepAlive);
  const double mon_fresh = t.Nanos(kMonitorRawFresh);
  auto rate = [](double ns) { return ns <= 0 ? -1 : 1e9 / ns; };
  const std::string n = std::to_string(in.reports);
  const double keep_ratio = Div(mon_lib, mon_raw);
  table.Row(n + " monitor reports, kept-alive handle (reports/s)", Fixed(rate(mon_lib), 0),
            "raw libcurl kept alive " + Fixed(rate(mon_raw), 0), Fixed(keep_ratio, 3) + " (time)",
            "<= 1.05", Met(keep_ratio, 1.05, true));
  const double fresh_ratio = Div(mon_fresh, mon_lib);
  table.Row(n + " monitor reports, kept alive vs fresh handle each (reports/s)",
            Fixed(rate(mon_lib), 0), "fresh handle per report " + Fixed(rate(mon_fresh), 0),
            Fixed(fresh_ratio, 2) + " (rate)", ">= 2", Met(fresh_ratio, 2, false));

  const double mon_lib_cpu = t.Nanos(std::string(kMonitorLibrary) + "_cpu");
  const double mon_fresh_cpu = t.Nanos(std::string(kMonitorRawFresh) + "_cpu");
  table.Row("monitor report, client thread CPU time (us)", Fixed(mon_lib_cpu / 1e3, 1),
            "fresh handle per report " + Fixed(mon_fresh_cpu / 1e3, 1),
            Ratio(mon_fresh_cpu, mon_lib_cpu) + " (fresh/kept)");

  auto rss_row = [&](const std::vector<PeakRss>& rss, const std::string& what) {
    if (rss.size() < 2) return;
    table.Row(
        what, Fixed(static_cast<double>(rss[0].kib), 0),
        rss[1].what + " " + Fixed(static_cast<double>(rss[1].kib), 0) +
            (rss.size() > 2 ? "; " + rss[2].what + " " + Fixed(static_cast<double>(rss[2].kib), 0)
                            : ""),
        Ratio(static_cast<double>(rss[0].kib), static_cast<double>(rss[1].kib)));
  };
  rss_row(in.tool_rss, "peak RSS, vanta negotiate against vanta dispatcher (KiB)");
  rss_row(in.in_process_rss, "peak RSS, process running one in-process negotiation (KiB)");

  for (const AllocRow& a : in.allocations) {
    const std::string bad = a.ok ? "" : " (exchanges FAILED)";
    table.Row("heap allocations per " + a.request + ": new + libcurl" + bad,
              Fixed(a.library_cxx, 1) + " + " + Fixed(a.library_curl, 1),
              "raw libcurl " + Fixed(a.raw_cxx, 1) + " + " + Fixed(a.raw_curl, 1),
              Ratio(a.library_cxx + a.library_curl, a.raw_cxx + a.raw_curl));
  }

  for (const std::string& m : in.messages) {
    const double l = t.Nanos(m + "/library"), p = t.Nanos(m + "/picojson"),
                 nl = t.Nanos(m + "/nlohmann");
    table.Row("message " + m + " (ns)", Fixed(l, 0),
              "picojson " + Fixed(p, 0) + " / nlohmann " + Fixed(nl, 0),
              Ratio(l, p) + " / " + Ratio(l, nl));
  }
}

}  // namespace bench
}  // namespace vanta
