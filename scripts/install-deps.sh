#!/usr/bin/env bash
# Installs every Debian package that building, testing and running the
# project needs, and those named in VANTA_EXTRA_PACKAGES (the hardening and
# Windows scripts add theirs). Idempotent, and quiet when everything is
# already present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git ca-certificates
  libcurl4-openssl-dev libssl-dev picojson-dev
  libgtest-dev libgmock-dev libcpp-httplib-dev
  python3  # the C interface's ctypes check in the suite
)
if [ "${VANTA_EXTRA_PACKAGES:-}" != "" ]; then
  read -r -a extra <<<"$VANTA_EXTRA_PACKAGES"
  packages+=("${extra[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq >/dev/null
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
