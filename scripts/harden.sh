#!/usr/bin/env bash
# The hardening run: fuzz smoke of every fuzz target, the whole test suite
# under AddressSanitizer with UndefinedBehaviorSanitizer and under
# ThreadSanitizer, and a valgrind leak check of the transport and
# negotiation tests. Every step runs even when an earlier one fails; the
# script exits non-zero when any of them found something.
#
# Environment:
#   VANTA_HARDEN_BUILD_PREFIX  build directories are <prefix>-fuzz, -asan,
#                              -tsan and -memcheck (default: <repo>/build)
#   VANTA_MEMCHECK_BUILD_DIR   the plain build for valgrind (default: <prefix>-memcheck)
#   VANTA_FUZZ_SECONDS         seconds per fuzz target (default 20)
set -uo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

prefix=${VANTA_HARDEN_BUILD_PREFIX:-$repo/build}
fuzz_seconds=${VANTA_FUZZ_SECONDS:-20}
jobs=$(nproc 2>/dev/null || echo 2)

VANTA_EXTRA_PACKAGES="clang libclang-rt-14-dev valgrind" scripts/install-deps.sh || exit 1

failed=()
timings=()
# step <name> <command...>: runs one step, records its time and outcome.
step() {
  local name=$1
  shift
  echo "=== $name"
  local start=$SECONDS
  if "$@"; then
    timings+=("$(printf '%-10s %5ss  ok' "$name" $((SECONDS - start)))")
  else
    timings+=("$(printf '%-10s %5ss  FAILED' "$name" $((SECONDS - start)))")
    failed+=("$name")
  fi
}

configure_and_build() {  # <preset> <dir> [targets...]
  local preset=$1 dir=$2
  shift 2
  local targets=()
  for t in "$@"; do targets+=(--target "$t"); done
  mkdir -p "$dir"
  cmake --preset "$preset" -B "$dir" >"$dir/configure.log" 2>&1 ||
    { cat "$dir/configure.log"; return 1; }
  cmake --build "$dir" -j "$jobs" "${targets[@]}"
}

fuzz() {
  configure_and_build fuzz "$prefix-fuzz" &&
    fuzz/run-fuzzers.sh "$prefix-fuzz" "$fuzz_seconds"
}

# Sanitizer run-time options: stop at the first report, with full stacks.
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$repo/tests/tsan.supp"

# The suite under one sanitizer; the tests that wait for real time (names
# with "Slow") are left out and listed.
sanitized_suite() {  # <preset>
  local preset=$1 dir=$prefix-$1
  configure_and_build "$preset" "$dir" || return 1
  ctest --test-dir "$dir" -N -R Slow | sed -n 's/^ *Test *#[0-9]*: /skipped (Slow): /p'
  ctest --test-dir "$dir" -E Slow -j "$jobs" --output-on-failure --no-tests=error --timeout 300
}

# valgrind memcheck over the transport and negotiation tests: any memory
# error, or any byte definitely or indirectly lost, fails the step. Test
# assertions are judged by the other runs, not here: under valgrind
# posix_spawn cannot report a program that fails to start (its CLONE_VM
# child runs as a fork), so a device identity check fails under it alone.
memcheck() {
  local dir=${VANTA_MEMCHECK_BUILD_DIR:-$prefix-memcheck} ok=0
  configure_and_build memcheck "$dir" service_tests accessor_tests || return 1
  for exe in tests/service/service_tests tests/accessor/accessor_tests; do
    local log=$dir/${exe##*/}.valgrind.log rc=0
    echo "valgrind $exe (without the Slow tests)"
    valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect \
      --errors-for-leak-kinds=definite,indirect --error-exitcode=99 --num-callers=30 \
      --log-file="$log" "$dir/$exe" --gtest_filter='-*Slow*' >"$log.out" 2>&1 || rc=$?
    grep -E "^\[  (PASSED|FAILED)  \]" "$log.out" | sed "s/^/  ${exe##*/}: /"
    grep -E "definitely lost|indirectly lost|ERROR SUMMARY|All heap blocks" "$log" |
      sed "s/^==[0-9]*== /  ${exe##*/}: /"
    # 0: clean; 1: only test assertions failed; 99: valgrind errors; else a crash.
    if [ "$rc" -ne 0 ] && [ "$rc" -ne 1 ]; then
      ok=1
      tail -n 30 "$log.out"
      cat "$log"
    fi
  done
  return $ok
}

step fuzz fuzz
step asan sanitized_suite asan
step tsan sanitized_suite tsan
step memcheck memcheck

echo "=== hardening summary"
printf '  %s\n' "${timings[@]}"
echo "  total      ${SECONDS}s"
if [ ${#failed[@]} -ne 0 ]; then
  echo "hardening findings in: ${failed[*]}" >&2
  exit 1
fi
