#!/usr/bin/env bash
# Builds the Windows (x86_64-w64-mingw32) dependencies: OpenSSL, libcurl with
# the OpenSSL backend, and GoogleTest, all static, and the header-only
# cpp-httplib, picojson and CLI11, into one prefix in a cache outside the
# checkout, and prints that prefix as the last line on stdout. Everything
# else goes to stderr.
#
# OpenSSL, curl and cpp-httplib come from Debian's own source packages
# (Debian's patches applied) of the releases the Linux build uses:
# - curl and cpp-httplib: the source version of the installed
#   libcurl4-openssl-dev and libcpp-httplib-dev, or the newest source of the
#   same upstream release when that one is gone;
# - OpenSSL: the newest source package of the installed libssl3's series
#   (3.0.x) that downloads completely. The exact Linux patch level may have
#   no source package left in the archive.
# Debian's libcpp-httplib-dev splits the header and keeps the implementation
# in a Linux shared library; the prefix gets the source's full header-only
# httplib.h instead. picojson and CLI11 are headers only and the same on
# every system: they are copied from the installed (architecture "all")
# packages.
# The sources are fetched with a private apt configuration (its own source
# list, package lists and cache under the cache directory); the system's
# apt sources are left alone.
#
# The prefix is named after the source versions, the compiler and the recipe
# below; a run that finds it complete only prints it. A prefix counts as
# complete once its stamp file exists, which is written last.
#
# Environment:
#   VANTA_WINDOWS_CACHE  cache directory (default /var/cache/vanta-windows)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
cache_root=${VANTA_WINDOWS_CACHE:-/var/cache/vanta-windows}
triple=x86_64-w64-mingw32
jobs=2
# Bump when the build steps or flags (cmake/mingw-w64.cmake included) change,
# so that old prefixes are not taken for the new recipe.
recipe=2

# Every package this script and the Windows build use.
packages=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine64 googletest cmake make perl pkg-config
  dpkg-dev xz-utils patch autoconf automake libtool util-linux
  # The Linux build's libraries: their versions choose the sources.
  libssl-dev libcurl4-openssl-dev libcpp-httplib-dev
  # Header-only, copied as they are.
  picojson-dev libcli11-dev
)

log() { echo "windows-deps: $*" >&2; }
die() {
  log "error: $*"
  exit 1
}

installed_version() {  # <package> [field]: prints its installed version
  dpkg-query -W -f="\${${2:-Version}}" "$1" 2>/dev/null || die "$1 is not installed"
}

upstream_of() {  # <debian version>: prints the upstream part
  local v=${1#*:}
  echo "${v%-*}"
}

# Private apt configuration: deb-src lines for the system's own archive.
apt_dir=$cache_root/apt
apt_opts=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o Dir::Etc::SourceParts=/dev/null
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
)

write_source_list() {
  local codename sources=/etc/apt/sources.list.d/debian.sources one_line=()
  codename=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
  [ -n "$codename" ] || die "no VERSION_CODENAME in /etc/os-release"
  # The archive as the system knows it: deb822 (debian.sources, the default
  # of an installed system) and one-line lists (sources.list, what
  # debootstrap writes).
  [ -r /etc/apt/sources.list ] && one_line+=(/etc/apt/sources.list)
  [ -r "$sources" ] || [ ${#one_line[@]} -gt 0 ] ||
    die "neither $sources nor /etc/apt/sources.list: cannot tell which archive to fetch sources from"
  {
    # One deb-src line per URI and wanted suite of each deb822 stanza.
    if [ -r "$sources" ]; then
      awk -v want="$codename $codename-updates $codename-security" '
        function flush(   i, j, n, m, u, s, opt) {
          if (types ~ /(^| )deb( |$)/ && uris != "") {
            opt = (signed ~ /^\//) ? "[signed-by=" signed "] " : ""
            n = split(uris, u, " "); m = split(suites, s, " ")
            for (i = 1; i <= n; i++)
              for (j = 1; j <= m; j++)
                if (index(" " want " ", " " s[j] " "))
                  print "deb-src " opt u[i] " " s[j] " " (comps == "" ? "main" : comps)
          }
          types = uris = suites = comps = signed = ""
        }
        /^#/ { next }
        /^[ \t]*$/ { flush(); next }
        /^Types:/ { types = $0; sub(/^Types:[ \t]*/, "", types) }
        /^URIs:/ { uris = $0; sub(/^URIs:[ \t]*/, "", uris) }
        /^Suites:/ { suites = $0; sub(/^Suites:[ \t]*/, "", suites) }
        /^Components:/ { comps = $0; sub(/^Components:[ \t]*/, "", comps) }
        /^Signed-By:/ { signed = $0; sub(/^Signed-By:[ \t]*/, "", signed) }
        END { flush() }
      ' "$sources"
    fi
    # "deb [options] URI suite components" of a wanted suite, as deb-src.
    if [ ${#one_line[@]} -gt 0 ]; then
      awk -v want="$codename $codename-updates $codename-security" '
        /^[ \t]*deb[ \t]/ {
          line = $0; sub(/^[ \t]*deb[ \t]+/, "", line); opt = ""
          if (line ~ /^\[/) {
            opt = substr(line, 1, index(line, "]")) " "
            line = substr(line, index(line, "]") + 1); sub(/^[ \t]+/, "", line)
          }
          n = split(line, f, /[ \t]+/)
          if (n >= 2 && index(" " want " ", " " f[2] " ")) {
            comps = ""
            for (i = 3; i <= n; i++) comps = comps " " f[i]
            print "deb-src " opt f[1] " " f[2] (comps == "" ? " main" : comps)
          }
        }
      ' "${one_line[@]}"
    fi
  } | sort -u >"$apt_dir/sources.list.new"
  [ -s "$apt_dir/sources.list.new" ] || die "no $codename suites found in the apt sources"
  mv "$apt_dir/sources.list.new" "$apt_dir/sources.list"
}

update_source_lists() {
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  write_source_list
  # Cheap when nothing changed (only the Release files are checked).
  if ! apt-get "${apt_opts[@]}" -qq update >"$apt_dir/update.log" 2>&1; then
    if compgen -G "$apt_dir/lists/*Sources*" >/dev/null; then
      log "warning: apt-get update of the source lists failed, using the previous lists:"
      tail -n 3 "$apt_dir/update.log" >&2
    else
      cat "$apt_dir/update.log" >&2
      die "cannot fetch the source package lists"
    fi
  fi
}

source_versions() {  # <source package>: its versions in the lists, newest first
  local versions v sorted=() i
  versions=$(apt-cache "${apt_opts[@]}" showsrc "$1" 2>/dev/null |
    awk -v pkg="$1" '/^Package: /{p = $2} /^Version: /{if (p == pkg) print $2}' | sort -u)
  for v in $versions; do
    i=${#sorted[@]}
    while [ "$i" -gt 0 ] && dpkg --compare-versions "$v" gt "${sorted[i - 1]}"; do
      sorted[i]=${sorted[i - 1]}
      i=$((i - 1))
    done
    sorted[i]=$v
  done
  [ ${#sorted[@]} -eq 0 ] || printf '%s\n' "${sorted[@]}"
}

fetch_source() {  # <package> <version> <dir>: downloads the source package into dir
  mkdir -p "$3"
  (cd "$3" && apt-get "${apt_opts[@]}" -q source --download-only "$1=$2") >"$3/fetch.log" 2>&1
}

# run <log> <command...>: runs a build command with its output in the log;
# on failure shows the log's end and stops.
run() {
  local logfile=$1
  shift
  if ! "$@" >>"$logfile" 2>&1; then
    log "failed: $*"
    tail -n 40 "$logfile" >&2
    die "build failed; logs are in $work (the prefix has no stamp and is rebuilt next time)"
  fi
}

unpack() {  # <dir with .dsc> <source dir>: unpacks with Debian's patches applied
  local dsc
  dsc=$(echo "$1"/*.dsc)
  [ -f "$dsc" ] || die "no .dsc in $1"
  # dpkg-source warns that it cannot check the .dsc signature without the
  # Debian keyrings; apt has already checked the files against the signed
  # archive index.
  run "$1/unpack.log" dpkg-source -x "$dsc" "$2"
}

# All three are static libraries (no-shared, --disable-shared,
# BUILD_SHARED_LIBS=OFF): VantaWebService.dll and the test programs then carry
# OpenSSL and libcurl inside, and wine needs no extra DLL beside them.
# OpenSSL goes to <prefix>/lib (not lib64) where CMake's find modules look.

build_openssl() {
  local dir=$work/openssl
  unpack "$dir" "$dir/src"
  (
    cd "$dir/src"
    run "$dir/build.log" ./Configure mingw64 "--cross-compile-prefix=$triple-" \
      CC=gcc-posix "--prefix=$prefix" --libdir=lib no-shared no-tests -O2
    run "$dir/build.log" make -j"$jobs" build_libs
    run "$dir/build.log" make install_dev
  )
}

build_curl() {
  local dir=$work/curl p
  unpack "$dir" "$dir/src"
  (
    cd "$dir/src"
    # Debian's series ends with the patches that make the GnuTLS and NSS
    # flavours; its OpenSSL flavour is built with them taken off again.
    for p in 99_nss.patch 90_gnutls.patch; do
      if grep -qx "$p" debian/patches/series; then
        run "$dir/build.log" patch -R -p1 -i "debian/patches/$p"
      fi
    done
    # Debian's patches touch configure.ac and Makefile.am: regenerate the
    # build system as Debian does, keeping its patched ltmain.sh.
    cp -p ltmain.sh "$dir/ltmain.sh"
    run "$dir/build.log" autoreconf -fi
    cp -p "$dir/ltmain.sh" ltmain.sh
    run "$dir/build.log" env PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" \
      CC="$triple-gcc-posix" CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib" \
      LIBS="-lcrypt32 -lws2_32 -lbcrypt" \
      ./configure --host="$triple" --prefix="$prefix" --with-openssl="$prefix" \
      --disable-shared --enable-static --without-libpsl --without-zlib --without-brotli \
      --without-zstd --without-nghttp2 --disable-ldap --without-libidn2 --disable-manual \
      --disable-docs
    run "$dir/build.log" make -j"$jobs" -C lib
    run "$dir/build.log" make -C lib install
    run "$dir/build.log" make -C include install
    run "$dir/build.log" make install-pkgconfigDATA
  )
}

build_googletest() {
  local dir=$work/googletest
  mkdir -p "$dir"
  run "$dir/build.log" cmake -S /usr/src/googletest -B "$dir/build" \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" -DVANTA_WINDOWS_PREFIX="$prefix" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
    -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
  run "$dir/build.log" cmake --build "$dir/build" -j"$jobs"
  run "$dir/build.log" cmake --install "$dir/build"
}

# Header-only libraries. The test peers and the vanta command build
# cpp-httplib with OpenSSL; on Windows it needs Winsock and the certificate
# store API (crypt32).
install_headers() {
  local dir=$work/httplib f
  unpack "$dir" "$dir/src"
  [ -f "$dir/src/httplib.h" ] || die "the cpp-httplib source has no httplib.h"
  install -D -m 644 "$dir/src/httplib.h" "$prefix/include/httplib.h"
  mkdir -p "$prefix/lib/pkgconfig"
  cat >"$prefix/lib/pkgconfig/cpp-httplib.pc" <<EOF
prefix=$prefix
includedir=\${prefix}/include

Name: cpp-httplib
Description: C++ HTTP/HTTPS server and client library (header-only)
Version: $(upstream_of "$httplib_version" | sed 's/+.*//')
Requires: openssl
Libs: -lws2_32 -lcrypt32
Cflags: -I\${includedir} -DCPPHTTPLIB_OPENSSL_SUPPORT
EOF
  for f in $(dpkg -L picojson-dev libcli11-dev); do
    case $f in
      /usr/include/* | /usr/share/cmake/*)
        if [ -f "$f" ]; then install -D -m 644 "$f" "$prefix/${f#/usr/}"; fi
        ;;
    esac
  done
  [ -f "$prefix/include/picojson.h" ] || die "picojson-dev installed no picojson.h"
  [ -f "$prefix/share/cmake/CLI11/CLI11Config.cmake" ] || die "libcli11-dev installed no CMake package"
}

timed() {  # <name> <function>: runs it and records how long it took
  local start=$SECONDS
  log "building $1 ..."
  "$2"
  timings+=("$1 $((SECONDS - start))s")
  log "built $1 in $((SECONDS - start)) s"
}

VANTA_EXTRA_PACKAGES="${packages[*]}" "$repo/scripts/install-deps.sh" >&2 || die "the packages could not be installed"
mkdir -p "$cache_root"
exec 9>"$cache_root/lock"
if ! flock -n 9; then
  log "waiting for another run that holds $cache_root/lock"
  flock 9
fi

update_source_lists

same_release_source() {  # <source package> <wanted version>: prints the version to fetch
  local v chosen=
  while read -r v; do
    if [ "$v" = "$2" ]; then
      chosen=$v
      break
    fi
    if [ -z "$chosen" ] && [ "$(upstream_of "$v")" = "$(upstream_of "$2")" ]; then
      chosen=$v
    fi
  done < <(source_versions "$1")
  [ -n "$chosen" ] || die "no $1 $(upstream_of "$2") source package in the archive"
  [ "$chosen" = "$2" ] || log "$1 source $2 is not in the archive; using $chosen"
  echo "$chosen"
}

curl_version=$(same_release_source curl "$(installed_version libcurl4-openssl-dev source:Version)")
httplib_version=$(same_release_source cpp-httplib \
  "$(installed_version libcpp-httplib-dev source:Version)")

openssl_series=$(upstream_of "$(installed_version libssl3)" | cut -d. -f1-2)
mapfile -t openssl_candidates < <(source_versions openssl | awk -v s="$openssl_series." 'index($0, s) == 1')
[ ${#openssl_candidates[@]} -gt 0 ] || die "no OpenSSL $openssl_series.x source package in the archive"

gtest_version=$(installed_version googletest)
compiler_version=$(installed_version "g++-mingw-w64-x86-64-posix")
picojson_version=$(installed_version picojson-dev)
cli11_version=$(installed_version libcli11-dev)

prefix_for() {  # <openssl version>
  local key="openssl-$1_curl-${curl_version}_httplib-${httplib_version}_googletest-${gtest_version}"
  key+="_picojson-${picojson_version}_cli11-${cli11_version}_gcc-${compiler_version}_r$recipe"
  echo "$cache_root/${key//[^A-Za-z0-9._-]/_}"
}

stamp=.vanta-windows-deps-complete
lists_id=$(cat "$apt_dir"/lists/*Release 2>/dev/null | md5sum | cut -d' ' -f1)
openssl_version=
for v in "${openssl_candidates[@]}"; do
  prefix=$(prefix_for "$v")
  if [ -f "$prefix/$stamp" ]; then
    log "OpenSSL source $v, curl source $curl_version, cpp-httplib source $httplib_version," \
      "googletest $gtest_version: up to date"
    echo "$prefix"
    exit 0
  fi
  # A version whose download failed is skipped until the lists change.
  unavailable=$apt_dir/unavailable-openssl-${v//[^A-Za-z0-9._-]/_}
  if [ -f "$unavailable" ] && [ "$(cat "$unavailable")" = "$lists_id" ]; then
    log "skipping OpenSSL source $v: its download failed with the current lists"
    continue
  fi
  work=$cache_root/work/$(basename "$prefix")
  rm -rf "$work"
  if fetch_source openssl "$v" "$work/openssl"; then
    openssl_version=$v
    break
  fi
  log "OpenSSL source $v does not download completely:"
  grep -E '^(E|Err):' "$work/openssl/fetch.log" | head -n 3 >&2 || true
  echo "$lists_id" >"$unavailable"
  rm -rf "$work"
done
[ -n "$openssl_version" ] || die "none of the OpenSSL sources ${openssl_candidates[*]} downloads"
log "OpenSSL source $openssl_version (newest $openssl_series.x that downloads), curl source" \
  "$curl_version, cpp-httplib source $httplib_version, googletest $gtest_version," \
  "compiler $compiler_version"
fetch_source curl "$curl_version" "$work/curl" || {
  cat "$work/curl/fetch.log" >&2
  die "cannot download the curl source $curl_version"
}
fetch_source cpp-httplib "$httplib_version" "$work/httplib" || {
  cat "$work/httplib/fetch.log" >&2
  die "cannot download the cpp-httplib source $httplib_version"
}

rm -rf "$prefix"
mkdir -p "$prefix"
timings=()
total_start=$SECONDS
timed "OpenSSL $openssl_version" build_openssl
timed "curl $curl_version" build_curl
timed "GoogleTest $gtest_version" build_googletest
timed "cpp-httplib $httplib_version, picojson, CLI11" install_headers

cat >"$prefix/vanta-windows-deps.txt" <<EOF
openssl-source $openssl_version
curl-source $curl_version
cpp-httplib-source $httplib_version
googletest $gtest_version
picojson-dev $picojson_version
libcli11-dev $cli11_version
compiler g++-mingw-w64-x86-64-posix $compiler_version
recipe $recipe
built $(date -u +%Y-%m-%dT%H:%M:%SZ) in $((SECONDS - total_start)) s: ${timings[*]}
EOF
touch "$prefix/$stamp"
rm -rf "$work"
rmdir "$cache_root/work" 2>/dev/null || true
log "done in $((SECONDS - total_start)) s: $prefix"
echo "$prefix"
