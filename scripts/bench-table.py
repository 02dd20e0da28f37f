#!/usr/bin/env python3
"""Prints the benchmark table from vanta_bench's JSON output
(--benchmark_out=FILE --benchmark_out_format=json): for each row the
library's and the baseline's value, each the median over the repetitions
(or another statistic), their ratio and whether the target is met. Exits 1
when a benchmark reported an error or a row's benchmark is missing.

    scripts/bench-table.py <json file>

A row names a benchmark row (vanta_bench registers <row>/<side>), a measure
of one side's statistics, and optionally a target: ("<=", 1.05) on the
ratio library / baseline.
"""
import json
import statistics
import sys
from collections import defaultdict
from typing import Callable, NamedTuple, Optional, Tuple

UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


# A measure takes one side's statistics (field name -> value) and gives a
# number and its text.
def wall(run):
    return run["real_time"], f"{run['real_time'] * 1e6:.1f} us"


def cpu(run):
    return run["cpu_time"], f"{run['cpu_time'] * 1e6:.1f} us"


def rate(run):
    return 1 / run["real_time"], f"{1 / run['real_time']:.0f}/s"


def allocations(aside=0):
    """Allocation calls per request, less `aside` the library makes for its
    body or query string, which the baseline has made before."""
    def measure(run):
        total = run["new"] + run["curl"]
        return total - aside, f"{total:.1f} = {run['new']:.1f} new + {run['curl']:.1f} curl"
    return measure


def ms(run):
    return run["real_time"], f"{run['real_time'] * 1e3:.1f} ms"


def owner_cpu(run):
    return run["owner_cpu_ms"] * 1e-3, f"{run['owner_cpu_ms']:.2f} ms"


def kib(run):
    return run["peak_kib"], f"{run['peak_kib']:.0f} KiB"


class Row(NamedTuple):
    title: str
    row: str
    measure: Callable
    # On the ratio library / baseline; without a baseline, on the library's
    # value itself (seconds for times).
    target: Optional[Tuple[str, float]] = None
    library: str = "library"
    baseline: Optional[str] = "baseline"
    baseline_measure: Optional[Callable] = None  # default: measure
    stat: Callable = statistics.median


ROWS = [
    Row("negotiation: 3 POSTs, fresh handle each, 8+8 levels: wall", "negotiation", wall, ("<=", 1.03)),
    Row("negotiation: 3 POSTs, fresh handle each, 8+8 levels: client CPU", "negotiation", cpu,
        ("<=", 1.05)),
    Row("game service answer, 8+8 levels: the check alone vs picojson::parse", "check", wall,
        ("<=", 0.5)),
    *(Row(f"heap allocations per request, its body string aside: {what}", f"allocations-{name}",
          allocations(aside=1), ("<=", 2), baseline_measure=allocations())
      for what, name in (("token", "token"), ("access token", "accesstoken"),
                         ("game service", "gameservice"), ("monitor report", "report"))),
    Row("monitor reports, one kept-alive handle: time per report", "monitor", wall, ("<=", 1.05)),
    Row("monitor reports: kept alive vs a fresh handle each (rate)", "monitor", rate, (">=", 2),
        baseline="fresh"),
    Row("messages: 3 bodies built, 3 answers checked vs picojson serialize, parse", "messages", wall,
        ("<=", 1.3)),
    Row("peak RSS: vanta negotiate --request-token-first vs vanta --help", "rss", kib),
    *(Row(f"Cancel() to the end of the run, {phase}: {name} of 50", f"cancel-{row}", ms,
          ("<=", 0.050), baseline=None, stat=stat)
      for phase, row in (("retry wait", "retry-wait"), ("exchange in flight", "exchange"),
                         ("UUID helper running", "helper"), ("identity lock held", "lock"))
      for name, stat in (("median", statistics.median), ("worst", max))),
    Row("destruction right after Cancel(): worst of 50", "destroy-after-cancel", ms,
        ("<=", 0.050), baseline=None, stat=max),
    Row("owner's CPU while WaitFor waits out a 5 s negotiation", "wait-cpu", owner_cpu,
        ("<", 0.010), baseline=None),
    Row("negotiation through the C interface vs the C++ one", "interface", wall, ("<=", 1.01)),
]


def side_statistics(path):
    """<row>/<side> -> field -> list of the values of its repetitions, times
    in seconds."""
    report = json.load(open(path))
    sides, errors = defaultdict(lambda: defaultdict(list)), []
    for run in report["benchmarks"]:
        name = "/".join(run["name"].split("/")[:2])
        if run.get("error_occurred"):
            errors.append(f"{name}: {run.get('error_message')}")
        if run.get("run_type") != "iteration" or run.get("error_occurred"):
            continue
        unit = UNIT_SECONDS[run.get("time_unit", "ns")]
        for field, value in run.items():
            if isinstance(value, (int, float)) and not isinstance(value, bool):
                sides[name][field].append(value * unit if field.endswith("_time") else value)
    return sides, errors


def cells(row, sides):
    """The row's library, baseline, ratio and target cells."""
    def side(name, measure):
        if name not in sides:
            raise KeyError(f"no benchmark {name}")
        return measure({field: row.stat(values) for field, values in sides[name].items()})

    def judged(value):
        if not row.target:
            return "-"
        relation, bound = row.target
        met = {"<=": value <= bound, "<": value < bound, ">=": value >= bound}[relation]
        return f"{relation} {bound:g} {'met' if met else 'missed'}"

    library = side(f"{row.row}/{row.library}", row.measure)
    if row.baseline is None:
        return [library[1], "-", "n/a", judged(library[0])]
    baseline = side(f"{row.row}/{row.baseline}", row.baseline_measure or row.measure)
    ratio = library[0] / baseline[0]
    return [library[1], baseline[1], f"{ratio:.3f}", judged(ratio)]


def main(path):
    sides, errors = side_statistics(path)
    lines = [["measurement", "library", "baseline", "ratio", "target"]]
    for row in ROWS:
        try:
            lines.append([row.title] + cells(row, sides))
        except KeyError as missing:
            errors.append(f"{row.title}: {missing}")
    widths = [max(len(line[i]) for line in lines) for i in range(len(lines[0]))]
    lines.insert(1, ["-" * width for width in widths])
    for line in lines:
        print("| " + " | ".join(cell.ljust(width) for cell, width in zip(line, widths)) + " |")
    for error in errors:
        print(f"error: {error}", file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
