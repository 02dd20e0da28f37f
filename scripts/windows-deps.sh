#!/usr/bin/env bash
# Builds the Windows (x86_64-w64-mingw32) dependencies, static OpenSSL,
# libcurl and GoogleTest and header-only cpp-httplib and picojson, into
# a prefix in VANTA_WINDOWS_CACHE (/var/cache/vanta-windows); prints the
# prefix last on stdout. OpenSSL, curl and cpp-httplib are Debian's source
# packages (patches applied) of the Linux build's releases: the installed
# -dev package's source version (or the newest of its upstream release when
# that one is gone), for OpenSSL the newest of libssl3's series (3.0.x) that
# downloads. apt fetches them with a configuration of its own in the cache.
# The prefix is named after the versions, the compiler and the recipe; once
# complete (its stamp is written last) a run only prints it.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
cache=${VANTA_WINDOWS_CACHE:-/var/cache/vanta-windows}
triple=x86_64-w64-mingw32
# Bump when the build steps or flags (cmake/mingw-w64.cmake included) change,
# so that old prefixes are not taken for the new recipe.
recipe=2
packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev wine64 googletest cmake make perl pkg-config python3 dpkg-dev xz-utils
  patch autoconf automake libtool util-linux picojson-dev
  libssl-dev libcurl4-openssl-dev libcpp-httplib-dev) # the last three choose the sources

log() { echo "windows-deps: $*" >&2; }
die() { log "error: $*"; exit 1; }
installed() { dpkg-query -W -f="\${${2:-Version}}" "$1" || die "$1 is not installed"; }
upstream() { local v=${1#*:}; echo "${v%-*}"; } # a Debian version without epoch and revision
newest() { # <versions...>: the newest in Debian's ordering
  local best=${1:-} v
  for v; do dpkg --compare-versions "$v" gt "$best" && best=$v; done
  echo "$best"
}
safe() { echo "${1//[^A-Za-z0-9._-]/_}"; }
apt=$cache/apt
apt_opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache")

update_source_lists() {
  local codename
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
  # deb-src lines for the system's own suites of this release as apt lists
  # them, made again when the system's sources change.
  if [ ! -s "$apt/sources.list" ] || [ -n "$(find /etc/apt/sources.list* -newer "$apt/sources.list")" ]; then
    apt-get indextargets --no-release-info --format "deb-src \$(REPO_URI) \$(RELEASE) \$(COMPONENT)" \
      'Identifier: Packages' | sort -u | grep -E " $codename(-updates|-security)? " >"$apt/sources.list" ||
      die "apt knows no $codename suite to fetch sources from"
  fi
  apt-get "${apt_opts[@]}" -qq update >"$apt/update.log" 2>&1 && return # cheap when nothing changed
  compgen -G "$apt/lists/*Sources*" >/dev/null || { cat "$apt/update.log"; die "no source lists"; }
  log "warning: apt-get update of the source lists failed, using the previous lists:"
  tail -n 3 "$apt/update.log" >&2
}

versions() { apt-cache "${apt_opts[@]}" --only-source showsrc "$1" | sed -n 's/^Version: //p'; }

same_release() { # <source package> <installed version>: the source version to fetch
  local v same=()
  for v in $(versions "$1"); do
    [ "$v" != "$2" ] || { echo "$2"; return; }
    [ "$(upstream "$v")" != "$(upstream "$2")" ] || same+=("$v")
  done
  [ ${#same[@]} -gt 0 ] || die "no $1 $(upstream "$2") source package in the archive"
  log "$1 source $2 is not in the archive; using $(newest "${same[@]}")"
  newest "${same[@]}"
}

# Downloads a source package into dir and unpacks it there, Debian's patches
# applied (dpkg-source cannot check its signature without Debian's keyrings;
# apt has checked the files against the signed archive index).
fetch() { # <package> <version> <dir>
  mkdir -p "$3"
  (cd "$3" && apt-get "${apt_opts[@]}" -q source "$1=$2") >"$3/fetch.log" 2>&1 && return
  log "$1 source $2 does not download completely:"
  grep -E '^(E|Err):' "$3/fetch.log" | head -n 3 >&2
  return 1
}

run() { # <command...>: a build step, output to $work/build.log; on failure its end, and stop
  "$@" >>"$work/build.log" 2>&1 && return
  tail -n 40 "$work/build.log" >&2
  die "failed: $*; logs are in $work (the prefix has no stamp and is rebuilt next time)"
}

# All static (no-shared, --disable-shared, BUILD_SHARED_LIBS=OFF): the DLL
# and the test programs carry OpenSSL and libcurl, and wine needs no other
# DLL beside them. OpenSSL goes to <prefix>/lib, where CMake looks.
build_openssl() {
  cd "$work"/openssl/*/
  run ./Configure mingw64 "--cross-compile-prefix=$triple-" CC=gcc-posix "--prefix=$prefix" \
    --libdir=lib no-shared no-tests -O2
  run make -j2 build_libs
  run make install_dev
}

build_curl() {
  cd "$work"/curl/*/
  # Debian's series ends with the patches that make its GnuTLS and NSS
  # flavours; its OpenSSL flavour is built with them taken off again.
  for p in 99_nss.patch 90_gnutls.patch; do
    ! grep -qx "$p" debian/patches/series || run patch -R -p1 -i "debian/patches/$p"
  done
  # The patches touch configure.ac and Makefile.am: regenerate the build
  # system as Debian does, keeping its patched ltmain.sh.
  cp -p ltmain.sh "$work/ltmain.sh" && run autoreconf -fi && cp -p "$work/ltmain.sh" ltmain.sh
  run env PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" CC="$triple-gcc-posix" \
    CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib" LIBS="-lcrypt32 -lws2_32 -lbcrypt" \
    ./configure --host="$triple" --prefix="$prefix" --with-openssl="$prefix" --disable-shared \
    --enable-static --without-libpsl --without-zlib --without-brotli --without-zstd \
    --without-nghttp2 --disable-ldap --without-libidn2 --disable-manual --disable-docs
  run make -j2 -C lib
  run make -C lib install
  run make -C include install
  run make install-pkgconfigDATA
}

build_googletest() {
  run cmake -S /usr/src/googletest -B "$work/googletest" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" -DVANTA_WINDOWS_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
  run cmake --build "$work/googletest" -j2
  run cmake --install "$work/googletest"
}

# The source's full header-only httplib.h (Debian's package keeps the
# implementation in a Linux library), built with OpenSSL, and on Windows
# with Winsock and the certificate store API (crypt32). picojson as the
# installed (architecture "all") package has it.
install_headers() {
  install -D -m 644 "$work"/httplib/*/httplib.h "$prefix/include/httplib.h"
  mkdir -p "$prefix/lib/pkgconfig"
  cat >"$prefix/lib/pkgconfig/cpp-httplib.pc" <<EOF
prefix=$prefix
includedir=\${prefix}/include

Name: cpp-httplib
Description: C++ HTTP/HTTPS server and client library (header-only)
Version: $(upstream "$httplib_version" | sed 's/+.*//')
Requires: openssl
Libs: -lws2_32 -lcrypt32
Cflags: -I\${includedir} -DCPPHTTPLIB_OPENSSL_SUPPORT
EOF
  for f in $(dpkg -L picojson-dev | grep -E '^/usr/(include|share/cmake)/'); do
    [ ! -f "$f" ] || install -D -m 644 "$f" "$prefix/${f#/usr/}"
  done
}

VANTA_EXTRA_PACKAGES="${packages[*]}" "$repo/scripts/install-deps.sh" >&2 || die "cannot install packages"
mkdir -p "$cache"
exec 9>"$cache/lock"
flock -n 9 || { log "waiting for another run that holds $cache/lock"; flock 9; }
update_source_lists
curl_version=$(same_release curl "$(installed libcurl4-openssl-dev source:Version)")
httplib_version=$(same_release cpp-httplib "$(installed libcpp-httplib-dev source:Version)")
key="_curl-${curl_version}_httplib-${httplib_version}_googletest-$(installed googletest)"
key+="_picojson-$(installed picojson-dev)"
key+="_gcc-$(installed g++-mingw-w64-x86-64-posix)_r$recipe"

# The newest OpenSSL of the series, but for those whose download failed
# with the lists as they are now (noted in the apt directory).
series=$(upstream "$(installed libssl3)" | cut -d. -f1-2)
candidates=$(for v in $(versions openssl); do [[ $(upstream "$v") != "$series".* ]] || echo "$v"; done)
lists_id=$(cat "$apt"/lists/*Release | md5sum | cut -d' ' -f1)
while :; do
  openssl_version=$(newest $candidates)
  [ -n "$openssl_version" ] || die "no OpenSSL $series.x source package downloads"
  candidates=$(grep -vxF "$openssl_version" <<<"$candidates" || true)
  prefix=$cache/$(safe "openssl-$openssl_version$key")
  versions="OpenSSL $openssl_version, curl $curl_version, cpp-httplib $httplib_version (sources)"
  [ ! -f "$prefix/.vanta-windows-deps-complete" ] || { log "$versions up to date"; echo "$prefix"; exit 0; }
  failed=$apt/unavailable-openssl-$(safe "$openssl_version")
  [ "$(cat "$failed" 2>/dev/null)" != "$lists_id" ] || continue
  work=$cache/work/${prefix##*/} && rm -rf "$work"
  fetch openssl "$openssl_version" "$work/openssl" && break
  rm -rf "$work" && echo "$lists_id" >"$failed"
done
fetch curl "$curl_version" "$work/curl" || die "cannot download the curl source"
fetch cpp-httplib "$httplib_version" "$work/httplib" || die "cannot download the cpp-httplib source"
log "building into $prefix: $versions, $(installed g++-mingw-w64-x86-64-posix)"
rm -rf "$prefix" && mkdir -p "$prefix"
for step in build_openssl build_curl build_googletest install_headers; do
  start=$SECONDS
  ("$step")
  echo "$step $((SECONDS - start)) s" | tee -a "$prefix/vanta-windows-deps.txt" >&2
done
touch "$prefix/.vanta-windows-deps-complete"
rm -rf "$work" && rmdir "$cache/work" 2>/dev/null || true
echo "$prefix"
