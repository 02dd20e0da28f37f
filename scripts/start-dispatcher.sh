# shellcheck shell=bash
# Sourced, not run: start_dispatcher <vanta> <work dir> [dispatcher options]
# starts `<vanta> dispatcher` in the background (its log in
# <work dir>/dispatcher.log), sets dispatcher_pid, and waits up to 10 s for
# it to listen. Then it sets dispatcher_port and monitor_port from the ready
# file and returns 0; when the dispatcher ends first or does not get ready,
# dispatcher_pid is empty (the process stopped) and it returns 1.
start_dispatcher() {
  local vanta=$1 work=$2
  shift 2
  rm -f "$work/ready"
  "$vanta" dispatcher --ready-file "$work/ready" "$@" >/dev/null 2>"$work/dispatcher.log" &
  dispatcher_pid=$!
  for _ in $(seq 100); do
    if [ -f "$work/ready" ]; then
      # shellcheck disable=SC1091
      . "$work/ready"
      # Both ports, or the ready file is broken (the shell stops here).
      dispatcher_port=${dispatcher_port:?} monitor_port=${monitor_port:?}
      return 0
    fi
    kill -0 "$dispatcher_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$dispatcher_pid" 2>/dev/null || true
  wait "$dispatcher_pid" 2>/dev/null || true
  dispatcher_pid=
  return 1
}
