#!/usr/bin/env bash
# Builds the benchmark and the vanta command in Release (build-bench), runs
# every benchmark of bench/ against `vanta dispatcher` (repetitions of each
# side interleaved at random, so that library and baseline meet the same
# machine state) and prints the table of medians, ratios and targets.
#
#   scripts/bench.sh [Google Benchmark options]   (default: 40 repetitions of 0.05 s)
# The JSON output stays in build-bench/bench.json.
set -euo pipefail
cd "$(dirname "$0")/.."

VANTA_EXTRA_PACKAGES="libbenchmark-dev" scripts/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVANTA_BUILD_BENCHMARKS=ON \
  -DVANTA_BUILD_TOOLS=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j2 --target vanta_bench vanta >/dev/null
# Many short repetitions, so that library and baseline alternate often.
build-bench/bench/vanta_bench build-bench/tools/vanta --benchmark_repetitions=40 \
  --benchmark_min_time=0.05 --benchmark_enable_random_interleaving=true \
  --benchmark_out=build-bench/bench.json --benchmark_out_format=json "$@" >&2
python3 scripts/bench-table.py build-bench/bench.json
