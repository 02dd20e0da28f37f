#!/usr/bin/env bash
# Builds the benchmarks in Release and prints one table of ratios: the
# library next to bare libcurl, bare picojson and nlohmann/json, every pair
# measured side by side in the same run.
#
#   scripts/bench.sh [vanta_bench options...]
#
# Environment: VANTA_BENCH_BUILD_DIR (default build-bench in the checkout).
# Options go to the benchmark binary, e.g. --reports=5000 or
# --benchmark_repetitions=9. Google Benchmark's own report goes to stderr,
# the table to stdout.
set -euo pipefail
cd "$(dirname "$0")/.."

VANTA_EXTRA_PACKAGES="libbenchmark-dev nlohmann-json3-dev time" scripts/install-deps.sh

build=${VANTA_BENCH_BUILD_DIR:-build-bench}
# The web API origin points at a closed loopback port, so that the vanta
# command's device registration never leaves the machine.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVANTA_BUILD_BENCHMARKS=ON \
  -DVANTA_BUILD_TOOLS=ON -DBUILD_TESTING=OFF -DVANTA_WEB_API_HOST=127.0.0.1:1 >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target vanta_bench vanta >/dev/null

exec "$build/bench/vanta_bench" --vanta="$build/tools/vanta" "$@"
