#!/usr/bin/env bash
# The project's entry points:
#   ./dev.sh demo   install what is missing, build, and run a negotiation
#                   against the local reference dispatcher
#   ./dev.sh test   install what is missing, build, and run every test
set -euo pipefail
cd "$(dirname "$0")"

jobs=$(nproc 2>/dev/null || echo 2)

build() {  # build <dir> [cmake args...]
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

case "${1:-}" in
  demo)
    scripts/install-deps.sh
    build build
    exec scripts/demo.sh build
    ;;
  test)
    scripts/install-deps.sh
    build build
    ctest --test-dir build --output-on-failure -j "$jobs"
    ;;
  *)
    echo "usage: ./dev.sh demo | test" >&2
    exit 2
    ;;
esac
