#!/usr/bin/env bash
# The hardening run: the workflow presets fuzz (a smoke run of every fuzz
# target), asan (the suite under AddressSanitizer with UndefinedBehaviorSanitizer),
# tsan (under ThreadSanitizer) and memcheck (valgrind over the service and
# accessor tests), each in build-<name>/, each run even when an earlier one
# fails; exits non-zero when any of them found something. CMakePresets.json
# says what each leaves out and why. VANTA_FUZZ_SECONDS: seconds per fuzz
# target (20).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
VANTA_EXTRA_PACKAGES="clang libclang-rt-14-dev valgrind" scripts/install-deps.sh || exit 1
# The presets leave parallelism to these.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}

failed=() summary=()
for name in fuzz asan tsan memcheck; do
  echo "=== $name"
  start=$SECONDS result=ok
  cmake --workflow --preset "$name" || { result=FAILED; failed+=("$name"); }
  summary+=("$(printf '%-10s %5ss  %s' "$name" $((SECONDS - start)) "$result")")
done
echo "=== hardening summary"
for name in asan tsan; do
  ctest --test-dir "build-$name" -N -L slow | sed -n "s/^ *Test *#[0-9]*: /  $name left out (slow): /p"
done
printf '  %s\n' "${summary[@]}" "total      ${SECONDS}s"
[ ${#failed[@]} -eq 0 ] || { echo "hardening findings in: ${failed[*]}" >&2; exit 1; }
