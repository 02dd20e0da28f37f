#!/usr/bin/env bash
# scripts/windows-test.sh [build dir (build-windows)]: builds for 64-bit
# Windows (the "windows" preset, dependencies from scripts/windows-deps.sh),
# runs the suite under wine, headless, and the end-to-end checks below, and
# prints how many tests ran, which were skipped and why, and each check's
# verdict. With VANTA_LINUX_VANTA (a Linux vanta) the Windows example
# negotiates with its reference dispatcher. The wine prefix is <build dir>/wine,
# its wineserver stopped at the end.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:-$repo/build-windows}" && cd "${1:-$repo/build-windows}" && pwd)
dll=$build/bin/VantaWebService.dll
times=() last=0 status=0
took() { times+=("$1 $((SECONDS - last)) s"); last=$SECONDS; }
prefix=$("$repo/scripts/windows-deps.sh" | tail -n 1)
took dependencies
(cd "$repo" && VANTA_WINDOWS_PREFIX=$prefix cmake --preset windows -B "$build") &>"$build/configure.log" ||
  { cat "$build/configure.log" >&2; exit 1; }
cmake --build "$build" -j2
took build

# The wine the toolchain file found and runs the tests with, headless: no
# display, and no Mono or Gecko installer on the first start.
wine=$(sed -n 's/^VANTA_WINE64:FILEPATH=//p' "$build/CMakeCache.txt")
wineserver=${wine%/*}/wineserver
[ -x "$wine" ] || { echo "windows-test: no wine64 (the wine64 package installs it)" >&2; exit 1; }
export WINEPREFIX=$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
trap '"$wineserver" -k 2>/dev/null || true' EXIT
# One wineserver, with the prefix's services started once, serves the whole
# run: a server that ends between two tests and starts again costs seconds,
# and a test that starts while the services come up can stall.
[ -f "$WINEPREFIX/system.reg" ] || { "$wine" wineboot --init &>/dev/null || true; "$wineserver" -w; }
"$wineserver" -p
"$wine" wineboot >/dev/null 2>&1 || true

ctest --test-dir "$build" -j2 --output-junit ctest-junit.xml 2>&1 | tee "$build/ctest.log" || status=1
took tests

# The end-to-end checks, each a function named check_<name> that prints what
# it found and returns non-zero when the check fails.
windows_path() { echo "Z:${1//\//\\}"; }
# vanta.exe dispatcher under wine, its files in $1; sets dispatcher_pid,
# dispatcher_port and base.
start_windows_dispatcher() {
  local wait
  "$wine" "$build/bin/vanta.exe" dispatcher --port 0 --monitor-port 0 --ready-file "$1/ready" \
    >"$1/dispatcher.log" 2>&1 &
  dispatcher_pid=$!
  for wait in $(seq 100); do
    [ -s "$1/ready" ] && break
    sleep 0.1
  done
  # shellcheck disable=SC1091
  [ -s "$1/ready" ] && . "$1/ready" || { cat "$1/dispatcher.log"; echo "vanta.exe dispatcher did not start"; return 1; }
  base="http://127.0.0.1:$dispatcher_port/dispatcher/"
}
stop_windows_dispatcher() { kill "$dispatcher_pid" 2>/dev/null; wait "$dispatcher_pid" 2>/dev/null || true; }
dll_table() { x86_64-w64-mingw32-objdump -p "$dll"; }

# The DLL carries its runtime: it imports nothing but Windows' own DLLs.
check_imports() {
  echo "$(stat -c %s "$dll") bytes, imports $(dll_table | sed -n 's/^\tDLL Name: //p' | tr '\n' ' ')"
  ! dll_table | grep -iE 'DLL Name: (libstdc\+\+|libgcc|libwinpthread|libssl|libcrypto|libcurl)'
}

# It exports namespace vanta and C functions named vanta_ only.
check_exports() {
  local exports
  exports=$(dll_table | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' |
    x86_64-w64-mingw32-c++filt)
  echo "$(grep -c . <<<"$exports") exports"
  ! grep -vE '^(((typeinfo|typeinfo name|vtable) for )?vanta::|vanta_)' <<<"$exports"
}

# The example, built against the installed package (the DLL's import
# library) as a program outside the project, run under wine beside the
# installed DLL: a whole negotiation with VANTA_LINUX_VANTA's reference
# dispatcher, or without one the failure to connect.
check_example() {
  local work=$build/example-run url=http://127.0.0.1:1/dispatcher/ monitor=1 out code=0 line
  rm -rf "$build/install" "$work" && mkdir -p "$work"
  {
    cmake --install "$build" --prefix "$build/install" &&
      cmake -S "$repo/examples" -B "$build/example" -DVANTA_WINDOWS_PREFIX="$prefix" \
        -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
        -DVantaWebService_DIR="$build/install/lib/cmake/VantaWebService" &&
      cmake --build "$build/example"
  } &>"$work/log" || { cat "$work/log"; echo "does not build against the installed package"; return 1; }
  dispatcher_pid=
  if [ -n "${VANTA_LINUX_VANTA:-}" ]; then
    # shellcheck source=scripts/start-dispatcher.sh
    . "$repo/scripts/start-dispatcher.sh"
    start_dispatcher "$VANTA_LINUX_VANTA" "$work" --port 0 --monitor-port 0 ||
      { cat "$work/dispatcher.log"; echo "$VANTA_LINUX_VANTA dispatcher did not start"; return 1; }
    url="http://127.0.0.1:${dispatcher_port:?}/dispatcher/" monitor=${monitor_port:?}
  fi
  # Wine sets ComSpec and TEMP itself; the program gets these through cmd.
  # A UUID query that cannot start skips the registration with the web API.
  line="set ComSpec=$(windows_path "$work/no-such-program")&& set TEMP=$(windows_path "$work")&&"
  line+=" $(windows_path "$build/example/negotiate_example.exe") $url $monitor"
  out=$(WINEPATH=$(windows_path "$build/install/bin") "$wine" cmd /c "$line" 2>&1) || code=$?
  [ -z "$dispatcher_pid" ] || { kill "$dispatcher_pid"; wait "$dispatcher_pid" || true; }
  echo "$out"
  if [ -n "$dispatcher_pid" ]; then
    echo "(negotiated with the Linux reference dispatcher)"
    [ "$code" -eq 0 ] && grep -q '^monitor report accepted' <<<"$out"
  else
    echo "(no dispatcher: VANTA_LINUX_VANTA=<Linux vanta> runs a whole negotiation)"
    [ "$code" -eq 1 ] && grep -q 'the negotiation failed: 0xAC40C80B' <<<"$out"
  fi
}

# The C interface as another compiler's program sees the DLL: every
# function of vanta.h exported by its plain name, and tests/capi/load_dll.c
# (LoadLibrary and GetProcAddress, no import library) negotiating under wine
# with the Windows reference dispatcher, then cancelling a second run.
check_capi() {
  local work=$build/capi-check exports name out code=0
  rm -rf "$work" && mkdir -p "$work"
  exports=$(dll_table | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p')
  for name in $(grep VANTA_EXPORT "$repo/include/vanta/vanta.h" | grep -oE 'vanta_[a-z_]+\(' | tr -d '('); do
    grep -qE "\] $name\$" <<<"$exports" || { echo "$name is not exported by its plain name"; return 1; }
  done
  x86_64-w64-mingw32-gcc -std=c99 -Wall -Wextra -pedantic -Werror -I "$repo/include" \
    "$repo/tests/capi/load_dll.c" -o "$work/load_dll.exe" || return 1
  start_windows_dispatcher "$work" || return 1
  out=$("$wine" "$work/load_dll.exe" "$(windows_path "$dll")" "$base" 2>&1) || code=$?
  stop_windows_dispatcher
  echo "every vanta_ function exported by its plain name; load_dll.exe exit status $code"
  echo "$out"
  [ "$code" -eq 0 ]
}

# vanta.exe dispatcher under wine: vanta.exe negotiates with it over IPv4
# and IPv6, and an interrupt (wine makes it Ctrl-C) stops it cleanly.
check_dispatcher() {
  local work=$build/dispatcher-check host out code=0
  rm -rf "$work" && mkdir -p "$work"
  start_windows_dispatcher "$work" || return 1
  for host in 127.0.0.1 '[::1]'; do
    out=$("$wine" "$build/bin/vanta.exe" negotiate -q --no-register --gameid g \
      --dispatcher "http://$host:$dispatcher_port/dispatcher/" 2>&1) || code=$?
    echo "negotiate against http://$host:$dispatcher_port/dispatcher/: exit status $code"
    grep -q '"access_token"' <<<"$out" || { echo "$out"; return 1; }
  done
  kill -INT "$dispatcher_pid"
  wait "$dispatcher_pid" || code=$?
  echo "after an interrupt: exit status $code; last log line: $(tail -n 1 "$work/dispatcher.log")"
  [ "$code" -eq 0 ] && [ ! -e "$work/ready" ]
}

# Without ComSpec (taken out of the prefix: wine's cmd.exe would put it
# back) the DLL writes the UUID file itself from the SMBIOS system UUID.
check_device_id() {
  local key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment' id code=0
  "$wine" reg delete "$key" /v ComSpec /f &>/dev/null
  id=$("$wine" "$build/bin/vanta.exe" device-id 2>&1) || code=$?
  "$wine" reg add "$key" /v ComSpec /t REG_EXPAND_SZ /d '%SystemRoot%\system32\cmd.exe' /f &>/dev/null
  id=${id%$'\r'}  # the console's line end
  echo "device-id without ComSpec: exit status $code, ${#id} characters: $id"
  [ "$code" -eq 0 ] && [ "${#id}" -eq 54 ]
}

# vanta.exe: its releases, and exit status 3 (could not reach) for a report
# to a port where nothing listens.
check_command() {
  local version code=0
  version=$("$wine" "$build/bin/vanta.exe" --version 2>&1) || return 1
  "$wine" "$build/bin/vanta.exe" monitor-put --port 1 >/dev/null 2>&1 || code=$?
  echo "$version"$'\n'"monitor-put to a closed port: exit status $code"
  grep -q '^release check: ' <<<"$version" && [ "$code" -eq 3 ]
}

echo
echo "== Windows tests under $("$wine" --version) (log: $build/ctest.log)"
python3 "$repo/scripts/ctest-summary.py" "$build/ctest-junit.xml" || status=1
for check in $(compgen -A function check_); do
  verdict=passed
  out=$("$check" 2>&1) || { verdict=FAILED; status=1; }
  echo "${check#check_}: $verdict"
  sed 's/^/  /' <<<"$out"
done
echo "left out: the tests labelled install (Linux consumers; the example check builds the Windows one)"
took checks
echo "times: ${times[*]/%/,} total $SECONDS s"
exit "$status"
