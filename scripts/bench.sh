#!/usr/bin/env bash
# Builds the benchmark and the vanta command in Release (build-bench) and
# prints one table: the library next to bare libcurl and bare picojson,
# every pair measured side by side in one run against `vanta dispatcher`.
#
#   scripts/bench.sh [ROUNDS [REPORTS]]   (default 300 negotiations, 2000 reports)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVANTA_BUILD_BENCHMARKS=ON \
  -DVANTA_BUILD_TOOLS=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j2 --target vanta_bench vanta >/dev/null
exec build-bench/bench/vanta_bench build-bench/tools/vanta "$@"
