#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a given time each, starting
# from its seed corpus (fuzz/corpus/<target>/, never written to), and
# prints the executions of each. Exits non-zero when any target finds a
# crash, a leak, a time-out or a broken invariant; the input is kept in
# <build>/fuzz-artifacts/.
#
#   fuzz/run-fuzzers.sh <fuzz build dir> <seconds per target> [target...]
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 <fuzz build dir> <seconds per target> [target...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for exe in "$build"/fuzz/fuzz_*; do targets+=("${exe##*/fuzz_}"); done
fi

work="$build/fuzz-work"
artifacts="$build/fuzz-artifacts"
mkdir -p "$work" "$artifacts"
failed=()
summary=()
for target in "${targets[@]}"; do
  exe="$build/fuzz/fuzz_$target"
  seeds="$here/corpus/$target"
  [ -x "$exe" ] || { echo "no fuzz target $exe" >&2; exit 2; }
  [ -d "$seeds" ] || { echo "no seed corpus $seeds" >&2; exit 2; }
  mkdir -p "$work/$target"
  log="$work/$target.log"
  status=ok
  # The first corpus directory collects what the run finds; the seeds are read only.
  if ! "$exe" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
      -rss_limit_mb=4096 -max_len=16384 -artifact_prefix="$artifacts/$target-" \
      "$work/$target" "$seeds" >"$log" 2>&1; then
    status=FINDING
    failed+=("$target")
    tail -n 40 "$log" >&2
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  summary+=("$(printf '%-14s %12s executions in %ss  %s' "$target" "${execs:-?}" "$seconds" "$status")")
done

echo "fuzz summary:"
printf '  %s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz findings in: ${failed[*]} (inputs in $artifacts)" >&2
  exit 1
fi
