#!/usr/bin/env bash
# Builds the project for 64-bit Windows with mingw-w64 (the "windows" CMake
# preset, dependencies from scripts/windows-deps.sh) and runs the test suite
# under wine, headless. Prints which tests ran, which were skipped and why,
# and which parts of the suite are left out of the Windows build and why.
#
# Usage: scripts/windows-test.sh [build dir]   (default: build-windows)
#
# Environment:
#   VANTA_WINDOWS_CACHE  passed on to scripts/windows-deps.sh
#   VANTA_LINUX_VANTA    a Linux build's vanta command: the Windows example
#                        then negotiates with its reference dispatcher
# The wine prefix lives in <build dir>/wine, so that nothing is shared with
# other wine users of the machine; its wineserver is stopped at the end.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build-windows}
mkdir -p "$build"
build=$(cd "$build" && pwd)
jobs=2
start=$SECONDS

log() { echo "windows-test: $*" >&2; }

# Parts of the suite that the Windows build does not contain.
left_out=(
  "tools_tests: they drive vanta through a POSIX shell against its reference dispatcher, which is POSIX-only (signals, POSIX sockets); vanta.exe is built without the dispatcher and checked below"
  "ExampleBuildsAgainstTheInstalledPackage, Install.*: shell scripts that build consumers with the host's (Linux) compiler; the example step above does it for Windows"
)

deps_start=$SECONDS
prefix=$("$repo/scripts/windows-deps.sh" | tail -n 1)
deps_time=$((SECONDS - deps_start))

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -x "$wine" ] || {
  log "error: $wine not found (the wine64 package installs it)"
  exit 1
}
export WINEPREFIX=$build/wine WINEDEBUG=-all
# Headless: no display, and no Mono or Gecko installer on the first start.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# shellcheck disable=SC2317  # run by the trap
stop_wine() { "$wineserver" -k 2>/dev/null || true; }
trap stop_wine EXIT

build_start=$SECONDS
(
  cd "$repo"
  VANTA_WINDOWS_PREFIX=$prefix cmake --preset windows -B "$build" >"$build/configure.log" 2>&1 || {
    cat "$build/configure.log" >&2
    exit 1
  }
)
cmake --build "$build" -j"$jobs"
build_time=$((SECONDS - build_start))

# The DLL carries its runtime: it imports nothing but Windows' own DLLs.
dll=$build/bin/VantaWebService.dll
imports=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n 's/^\tDLL Name: //p' | sort | tr '\n' ' ')
log "VantaWebService.dll: $(stat -c %s "$dll") bytes, imports: $imports"
for name in $imports; do
  case ${name,,} in
    libstdc++* | libgcc* | libwinpthread* | libssl* | libcrypto* | libcurl*)
      log "error: VantaWebService.dll needs $name beside it"
      exit 1
      ;;
  esac
done

# The first start creates the wine prefix. One wineserver, with the
# prefix's services started once, serves the whole run: a server that ends
# between two tests and starts again costs seconds, and a test that starts
# while the services come up can stall.
test_start=$SECONDS
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  log "creating the wine prefix $WINEPREFIX"
  "$wine" wineboot --init >/dev/null 2>&1 || true
  "$wineserver" -w
fi
"$wineserver" -p
"$wine" wineboot >/dev/null 2>&1 || true

# The verbose log prefixes every line of a test's output with its number.
status=0
ctest --test-dir "$build" -j"$jobs" -V >"$build/ctest.log" 2>&1 || status=$?
test_time=$((SECONDS - test_start))
results=$(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: ' "$build/ctest.log" || true)
echo "$results"
failed_numbers=$(echo "$results" | sed -n 's/.*Test *#\([0-9]*\):.*\*\*\*\(Failed\|Timeout\|Exception\).*/\1/p')
for n in $failed_numbers; do
  echo "--- output of test $n"
  grep "^$n: " "$build/ctest.log" || true
done

# The DLL exports only namespace vanta.
exports=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^\t\[ *[0-9]*\] //p' | x86_64-w64-mingw32-c++filt)
if echo "$exports" | grep -vE '^((typeinfo|typeinfo name|vtable) for )?vanta::' >&2; then
  log "error: VantaWebService.dll exports names outside namespace vanta (above)"
  status=1
fi

# The example, built as a program outside the project builds it: with
# find_package against the installed package (the DLL's import library),
# run under wine beside the installed DLL. Given a Linux vanta command
# (VANTA_LINUX_VANTA), it negotiates with that command's reference
# dispatcher; without one it must find nothing listening at the address.
# shellcheck source=scripts/start-dispatcher.sh
. "$repo/scripts/start-dispatcher.sh"
windows_path() { echo "Z:${1//\//\\}"; }
example_check() {
  local work=$build/example-run dispatcher_pid='' url monitor out code=0
  rm -rf "$build/install" "$work"
  mkdir -p "$work"
  if ! {
    cmake --install "$build" --prefix "$build/install" &&
      cmake -S "$repo/examples" -B "$build/example" \
        -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" -DVANTA_WINDOWS_PREFIX="$prefix" \
        -DVantaWebService_DIR="$build/install/lib/cmake/VantaWebService" &&
      cmake --build "$build/example"
  } >"$work/log" 2>&1; then
    cat "$work/log" >&2
    echo "example: FAILED to build against the installed package"
    return 1
  fi
  if [ -n "${VANTA_LINUX_VANTA:-}" ]; then
    if ! start_dispatcher "$VANTA_LINUX_VANTA" "$work" --port 0 --monitor-port 0; then
      cat "$work/dispatcher.log" >&2
      echo "example: FAILED: $VANTA_LINUX_VANTA dispatcher did not start"
      return 1
    fi
    url="http://127.0.0.1:${dispatcher_port:?}/dispatcher/"
    monitor=${monitor_port:?}
  else
    url="http://127.0.0.1:1/dispatcher/"  # nothing listens on port 1
    monitor=1
  fi
  # Wine sets ComSpec and TEMP itself; the program gets these through cmd.
  # A UUID query that cannot start skips the registration with the web API.
  local line
  line="set ComSpec=$(windows_path "$work/no-such-program")&&"
  line+=" set TEMP=$(windows_path "$work")&&"
  line+=" $(windows_path "$build/example/negotiate_example.exe") $url $monitor"
  out=$(WINEPATH=$(windows_path "$build/install/bin") "$wine" cmd /c "$line" 2>&1) || code=$?
  if [ -n "$dispatcher_pid" ]; then
    kill "$dispatcher_pid" 2>/dev/null || true
    wait "$dispatcher_pid" 2>/dev/null || true
  fi
  local verdict="FAILED (exit status $code)" passed=1
  if [ -n "$dispatcher_pid" ]; then
    if [ "$code" -eq 0 ] && echo "$out" | grep -q '^monitor report accepted'; then
      verdict="passed (negotiated with the Linux reference dispatcher)" passed=0
    fi
  elif [ "$code" -eq 1 ] && echo "$out" | grep -q 'the negotiation failed: 0xAC40C80B'; then
    verdict="passed (no dispatcher, so the connection failure it must report;"
    verdict+=" VANTA_LINUX_VANTA=<Linux vanta> runs a whole negotiation)" passed=0
  fi
  echo "example: $verdict"
  # shellcheck disable=SC2001
  echo "$out" | sed 's/^/  /'
  return "$passed"
}
example_result=$(example_check) || status=1

# vanta.exe: its releases, and a report to a port where nothing listens
# (exit status 3, could not reach).
command_check() {
  local vanta=$build/bin/vanta.exe version code=0
  version=$("$wine" "$vanta" --version 2>&1) || { echo "vanta.exe: FAILED --version"; return 1; }
  "$wine" "$vanta" monitor-put --port 1 >/dev/null 2>&1 || code=$?
  if [ "$code" -ne 3 ] || ! echo "$version" | grep -q '^release check: '; then
    echo "vanta.exe: FAILED (monitor-put to a closed port gave exit status $code)"
    return 1
  fi
  echo "vanta.exe: passed (--version; exit status 3 for a closed port)"
  # shellcheck disable=SC2001
  echo "$version" | sed 's/^/  /'
}
command_result=$(command_check) || status=1

# Summary: the tests that ran, the skipped ones with the reason each gave.
echo
echo "== Windows tests under $("$wine" --version 2>/dev/null || echo wine) (log: $build/ctest.log)"
skipped_list=$(
  echo "$results" | sed -n 's/.*Test *#\([0-9]*\): \([^ ]*\) .*\*\*\*Skipped.*/\1 \2/p' |
    while read -r n name; do
      reason=$(grep -A1 -E "^$n: .*: Skipped\$" "$build/ctest.log" | sed -n "2s/^$n: //p")
      echo "  $name: ${reason:-(no reason given)}"
    done
)
count() { if [ -n "$1" ]; then echo "$1" | grep -c .; else echo 0; fi; }
echo "ran $(count "$results"): passed $(echo "$results" | grep -c ' Passed ' || true)," \
  "skipped $(count "$skipped_list"), failed $(count "$failed_numbers")"
if [ -n "$skipped_list" ]; then
  echo "skipped on Windows:"
  echo "$skipped_list"
fi
echo "$example_result"
echo "$command_result"
echo "VantaWebService.dll: $(stat -c %s "$dll") bytes, $(echo "$exports" | grep -c .) exports," \
  "imports $imports"
echo "left out of the Windows build:"
printf '  %s\n' "${left_out[@]}"
echo "times: dependencies ${deps_time} s, build ${build_time} s, tests ${test_time} s," \
  "total $((SECONDS - start)) s"
exit "$status"
