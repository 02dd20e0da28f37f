#!/usr/bin/env bash
# Checks of the installed package, one per mode; each installs the build
# into its own scratch prefix first.
#   install_test.sh <mode> <build dir> <source dir> <expected Initialize
#                   result in hex> <compiler> <flags>
# Modes:
#   find-package  a consumer built with find_package links and initialises
#                 (00000000, or AC40C813 when the build requires other
#                 releases than the ones installed here)
#   pkg-config    the same consumer built with the flags of the .pc file
#   headers       each public header compiles alone (vanta.h as C99 too) and
#                 pulls in nothing of libcurl, OpenSSL or picojson
#   exports       the library's dynamic table holds only namespace vanta and
#                 the vanta_ functions of the C interface
#   no-testing    the project configures with testing off and no GoogleTest
set -euo pipefail
mode=$1
build=$2
source=$3
expected=$4
compiler=$5
read -r -a flags <<<"${6:-}"
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

install_build() {
  cmake --install "$build" --prefix "$prefix" >/dev/null ||
    fail "cmake --install failed; every installed target must be built first"
}

# Runs the consumer: the result of Initialize and the exported constant.
run_consumer() {
  local out
  out=$("$1")
  [ "$out" = "$expected 8" ] || fail "consumer printed '$out', expected '$expected 8'"
}

case "$mode" in
  find-package)
    install_build
    cmake -S "$here/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_CXX_FLAGS="${flags[*]:-}" >/dev/null
    cmake --build "$work/consumer" >/dev/null
    run_consumer "$work/consumer/consumer"
    ;;
  pkg-config)
    install_build
    pc=$(find "$prefix" -name vanta-webservice.pc)
    [ -n "$pc" ] || fail "no vanta-webservice.pc installed"
    export PKG_CONFIG_PATH
    PKG_CONFIG_PATH=$(dirname "$pc")
    read -r -a pc_flags <<<"$(pkg-config --cflags --libs vanta-webservice)"
    libdir=$(pkg-config --variable=libdir vanta-webservice)
    [ -f "$libdir/libVantaWebService.so" ] || fail "libdir $libdir holds no library"
    "$compiler" -std=c++17 "${flags[@]}" "$here/consumer/consumer.cc" "${pc_flags[@]}" \
      -Wl,-rpath,"$libdir" -o "$work/consumer"
    run_consumer "$work/consumer"
    ;;
  headers)
    install_build
    count=0
    for header in "$prefix"/include/vanta/*.h; do
      name=vanta/$(basename "$header")
      printf '#include <%s>\n' "$name" >"$work/one.cc"
      "$compiler" -std=c++17 -Wall -Wextra -Wpedantic -Werror -fsyntax-only \
        -I "$prefix/include" "$work/one.cc" || fail "$name does not compile alone"
      if [ "$name" = vanta/vanta.h ]; then
        "$compiler" -x c -std=c99 -Wall -Wextra -Wpedantic -Werror -fsyntax-only \
          -I "$prefix/include" "$work/one.cc" || fail "$name does not compile as C99"
      fi
      "$compiler" -std=c++17 -M -I "$prefix/include" "$work/one.cc" >"$work/deps"
      if grep -E '/(curl|openssl)/|/picojson\.h|/httplib\.h' "$work/deps" >&2; then
        fail "$name pulls in a dependency's header"
      fi
      count=$((count + 1))
    done
    [ "$count" -ge 2 ] || fail "only $count public headers installed"
    ;;
  exports)
    install_build
    lib=$(find "$prefix" -name 'libVantaWebService.so.*' -type f | head -n 1)
    [ -n "$lib" ] || fail "no libVantaWebService.so installed"
    nm -D --defined-only -C "$lib" | sed -E 's/^[0-9a-fA-F]* +[A-Za-z] +//' >"$work/symbols"
    grep -q '^vanta::WebService::Initialize()$' "$work/symbols" || fail "Initialize not exported"
    grep -q '^vanta::WebService::MAX_QUALITY_SETTING_LEVEL$' "$work/symbols" ||
      fail "MAX_QUALITY_SETTING_LEVEL not exported"
    # Every function that the C header declares, by its plain name.
    functions=$(grep VANTA_EXPORT "$prefix/include/vanta/vanta.h" | grep -oE 'vanta_[a-z_]+\(' | tr -d '(')
    [ -n "$functions" ] || fail "vanta.h declares no function"
    for function in $functions; do
      grep -qx "$function" "$work/symbols" || fail "$function is not exported"
    done
    if grep -vE '^((typeinfo|typeinfo name|vtable) for )?vanta::|^vanta_[a-z_]+$|^(_init|_fini|_edata|_end|__bss_start)$' \
      "$work/symbols" >&2; then
      fail "symbols outside namespace vanta and the C interface are exported"
    fi
    ;;
  no-testing)
    cmake -S "$source" -B "$work/build" -DBUILD_TESTING=OFF \
      -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >"$work/log" 2>&1 || {
      cat "$work/log" >&2
      fail "configuring without tests needs GoogleTest"
    }
    ;;
  *)
    fail "unknown mode $mode"
    ;;
esac
