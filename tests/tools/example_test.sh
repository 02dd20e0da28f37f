#!/usr/bin/env bash
# Installs a build into a scratch prefix, builds examples/ against the
# installed package (the C example through CMake and through pkg-config),
# and runs the examples against the installed vanta dispatcher on ephemeral
# ports; then check_capi.py loads the installed library with ctypes. The
# examples are compiled with the build's compilers and flags, so that a
# sanitizer build links (ctypes would need the sanitizer's run-time library
# preloaded into the interpreter: the check is left out there).
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
# The C compiler of the same family as the C++ one.
case $compiler in
  *clang++) c_compiler=${compiler%++} ;;
  *g++) c_compiler=${compiler%++}cc ;;
  *) c_compiler=cc ;;
esac
# A C program linking a library built with clang's sanitizers needs their
# C++ run-time parts too.
c_link=()
if [[ $flags == *-fsanitize* && $c_compiler == *clang ]]; then c_link=(-fsanitize-link-c++-runtime -lstdc++); fi
cmake -S "$examples" -B "$work/example" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_C_COMPILER="$c_compiler" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="${c_link[*]}" >/dev/null
cmake --build "$work/example" >/dev/null
# The C example as a Makefile would build it, from the .pc file alone.
pc_dir=$(dirname "$(find "$work/prefix" -name vanta-webservice.pc)")
read -r -a pc_flags <<<"$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs vanta-webservice)"
read -r -a c_flags <<<"$flags"
"$c_compiler" -std=c99 -Wall -Wextra -pedantic -Werror "${c_flags[@]}" "$examples/negotiate.c" \
  "${pc_flags[@]}" "${c_link[@]}" -Wl,-rpath,"$(PKG_CONFIG_PATH=$pc_dir pkg-config --variable=libdir vanta-webservice)" \
  -o "$work/negotiate_pc"

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

# The C example, built both ways: a negotiation, a monitor report, and a
# second run that it cancels.
for c_example in "$work/example/negotiate" "$work/negotiate_pc"; do
  TEMP="$work" "$c_example" "http://127.0.0.1:$dispatcher_port/dispatcher/" "$monitor_port"
done

# Another language: the C interface through ctypes, against the release of
# the installed .pc file.
if [[ $flags != *-fsanitize* ]]; then
  TEMP="$work" python3 "$(dirname "$0")/../capi/check_capi.py" \
    "$(find "$work/prefix" -name libVantaWebService.so)" \
    "http://127.0.0.1:$dispatcher_port/dispatcher/" "$monitor_port" \
    "$(PKG_CONFIG_PATH=$pc_dir pkg-config --modversion vanta-webservice)"
fi
