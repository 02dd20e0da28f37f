#!/usr/bin/env bash
# Runs one complete negotiation against the local reference dispatcher:
# starts `vanta dispatcher`, runs `vanta negotiate` against it, stops the
# dispatcher and exits with the negotiation's status.
#   scripts/demo.sh <build dir>
set -euo pipefail
build=${1:-build}
vanta="$build/tools/vanta"
if [ ! -x "$vanta" ]; then
  echo "demo: $vanta not found; build first" >&2
  exit 2
fi

work=$(mktemp -d)
dispatcher_pid=
stop_dispatcher() {
  if [ -n "$dispatcher_pid" ]; then
    kill -TERM "$dispatcher_pid" 2>/dev/null || true
    wait "$dispatcher_pid" 2>/dev/null || true
    dispatcher_pid=
  fi
}
trap 'stop_dispatcher; rm -rf "$work"' EXIT

# shellcheck source=scripts/start-dispatcher.sh
. "$(dirname "$0")/start-dispatcher.sh"
if ! start_dispatcher "$vanta" "$work"; then
  echo "demo: a default port (8081 or 7999) is taken; using free ones"
  start_dispatcher "$vanta" "$work" --port 0 --monitor-port 0 ||
    { cat "$work/dispatcher.log" >&2; exit 1; }
fi
base="http://127.0.0.1:$dispatcher_port/dispatcher/"
echo "demo: reference dispatcher at $base, launcher monitor on port $monitor_port"
echo "demo: vanta negotiate --gameid demo-game --env demo=1 --arbiter-base $base"

status=0
TEMP="$work" "$vanta" negotiate --gameid demo-game --env demo=1 --arbiter-base "$base" ||
  status=$?

stop_dispatcher
echo "demo: what the dispatcher saw:"
sed 's/^/  /' "$work/dispatcher.log"
if [ -f "$work/key.tmp" ]; then
  echo "demo: key file written: $(head -c 4 "$work/key.tmp")... ($(wc -c <"$work/key.tmp") bytes)"
fi
echo "demo: negotiation exit status $status"
exit "$status"
