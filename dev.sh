#!/usr/bin/env bash
# The project's entry points:
#   ./dev.sh demo   install what is missing, build, and run a negotiation
#                   against the local reference dispatcher
#   ./dev.sh test   install what is missing, build, and run every test
set -euo pipefail
cd "$(dirname "$0")"

jobs=$(nproc 2>/dev/null || echo 2)

configure() {  # configure <dir>
  cmake -S . -B "$1" >/dev/null
}

case "${1:-}" in
  demo)
    scripts/install-deps.sh
    configure build
    # Only what the demo runs: the library and the command.
    cmake --build build -j "$jobs" --target vanta
    exec scripts/demo.sh build
    ;;
  test)
    scripts/install-deps.sh
    configure build
    cmake --build build -j "$jobs"
    ctest --test-dir build --output-on-failure -j "$jobs"
    ;;
  *)
    echo "usage: ./dev.sh demo | test" >&2
    exit 2
    ;;
esac
