#!/usr/bin/env bash
# Builds the Windows smoke programs with cmake/mingw-w64.cmake against the
# prefix of scripts/windows-deps.sh and runs them under wine: the network
# and system checks against a Linux-native HTTP server on 127.0.0.1, the
# GoogleTest program directly and through ctest.
#
# Usage: scripts/windows-smoke/run.sh [build dir]   (default /tmp/vanta-win-smoke)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${1:-/tmp/vanta-win-smoke}
wine=/usr/lib/wine/wine64
export WINEDEBUG=-all

prefix=$("$repo/scripts/windows-deps.sh" | tail -n 1)
cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
  -DVANTA_WINDOWS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2

mkdir -p "$build/www"
echo "served to the smoke program" >"$build/www/index.html"
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$build/www" \
  >"$build/http.log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
port=
for _ in $(seq 100); do
  port=$(sed -n 's/.* port \([0-9]*\).*/\1/p' "$build/http.log" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { cat "$build/http.log" >&2; echo "HTTP server did not start" >&2; exit 1; }

# A variable of the Linux environment must reach the Windows program.
VANTA_SMOKE_FROM_LINUX=passed \
  "$wine" "$build/smoke_net.exe" "http://127.0.0.1:$port/" VANTA_SMOKE_FROM_LINUX=passed
"$wine" "$build/smoke_gtest.exe" --gtest_brief=1
(cd "$build" && ctest --output-on-failure)
