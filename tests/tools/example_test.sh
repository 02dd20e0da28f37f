#!/usr/bin/env bash
# Installs a build into a scratch prefix, builds examples/ against the
# installed package, and runs the example against the installed vanta
# dispatcher on ephemeral ports. The example is compiled with the build's
# compiler and flags, so that a sanitizer build links.
#   example_test.sh <build dir> <examples source dir> <compiler> <flags>
set -euo pipefail
build=$1
examples=$2
compiler=$3
flags=$4
work=$(mktemp -d)
dispatcher_pid=
cleanup() {
  if [ -n "$dispatcher_pid" ]; then
    kill "$dispatcher_pid" 2>/dev/null || true
    wait "$dispatcher_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$examples" -B "$work/example" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$work/example" >/dev/null

# shellcheck source=scripts/start-dispatcher.sh
. "$(dirname "$0")/../../scripts/start-dispatcher.sh"
# The first game service request is held for 5 s: the cancel example ends
# that run from a second thread after 300 ms.
start_dispatcher "$work/prefix/bin/vanta" "$work" --port 0 --monitor-port 0 \
  --delay request_gameservice=5000 --fault-count 1 ||
  { cat "$work/dispatcher.log" >&2; exit 1; }
"$work/example/cancel_example" "http://127.0.0.1:$dispatcher_port/dispatcher/" 300

# A UUID query that cannot start skips the registration with the web API.
ComSpec="$work/no-such-program" TEMP="$work" "$work/example/negotiate_example" \
  "http://127.0.0.1:$dispatcher_port/dispatcher/" "$monitor_port"
