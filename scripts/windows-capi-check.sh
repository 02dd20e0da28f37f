# shellcheck shell=bash
# Sourced: capi_check <Windows build dir> <Linux vanta> checks the DLL's C
# interface. Every function of vanta.h is exported by its plain name, the
# DLL imports only Windows' own DLLs, and tests/capi/load_dll.c (LoadLibrary
# and GetProcAddress, no import library) negotiates under wine with the
# Linux reference dispatcher. Needs wine64 in $wine, WINEPREFIX set, and
# start_dispatcher (scripts/start-dispatcher.sh), which sets dispatcher_*.
# shellcheck disable=SC2154,SC2001
capi_check() {
  local build=$1 vanta=$2 repo dll work exports name out
  repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd) dll=$build/bin/VantaWebService.dll
  work=$build/capi-check && rm -rf "$work" && mkdir -p "$work"
  exports=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p')
  for name in $(grep VANTA_EXPORT "$repo/include/vanta/vanta.h" | grep -oE 'vanta_[a-z_]+\(' | tr -d '('); do
    grep -qE "\] $name\$" <<<"$exports" || { echo "capi: FAILED: $name not exported by its plain name"; return 1; }
  done
  for name in $(x86_64-w64-mingw32-objdump -p "$dll" | sed -n 's/^\tDLL Name: //p'); do
    case ${name,,} in
      advapi32.dll | bcrypt.dll | crypt32.dll | iphlpapi.dll | kernel32.dll | msvcrt.dll | user32.dll | ws2_32.dll) ;;
      *) echo "capi: FAILED: VantaWebService.dll imports $name"; return 1 ;;
    esac
  done
  x86_64-w64-mingw32-gcc -std=c99 -Wall -Wextra -pedantic -Werror -I "$repo/include" \
    "$repo/tests/capi/load_dll.c" -o "$work/load_dll.exe" || { echo "capi: FAILED to build load_dll.c"; return 1; }
  start_dispatcher "$vanta" "$work" --port 0 --monitor-port 0 || { echo "capi: FAILED: no dispatcher"; return 1; }
  out=$("$wine" "$work/load_dll.exe" "Z:${dll//\//\\}" "http://127.0.0.1:$dispatcher_port/dispatcher/" 2>&1) ||
    { kill "$dispatcher_pid"; wait "$dispatcher_pid" 2>/dev/null; echo "capi: FAILED under wine:"; echo "$out"; return 1; }
  kill "$dispatcher_pid"; wait "$dispatcher_pid" 2>/dev/null || true
  echo "capi: passed (plain-name exports, Windows imports only, LoadLibrary negotiation under wine)"
  echo "$out" | sed 's/^/  /'
}
