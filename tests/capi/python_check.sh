#!/usr/bin/env bash
# Installs a build into a scratch prefix and runs check_capi.py (ctypes)
# against the installed library and the installed vanta dispatcher on
# ephemeral ports. The release it expects is the installed .pc file's.
#   python_check.sh <build dir>
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
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
library=$(find "$work/prefix" -name libVantaWebService.so)
release=$(PKG_CONFIG_PATH=$(dirname "$(find "$work/prefix" -name vanta-webservice.pc)") \
  pkg-config --modversion vanta-webservice)

# shellcheck source=scripts/start-dispatcher.sh
. "$here/../../scripts/start-dispatcher.sh"
start_dispatcher "$work/prefix/bin/vanta" "$work" --port 0 --monitor-port 0 ||
  { cat "$work/dispatcher.log" >&2; exit 1; }
TEMP="$work" python3 "$here/check_capi.py" "$library" \
  "http://127.0.0.1:$dispatcher_port/dispatcher/" "$monitor_port" "$release"
