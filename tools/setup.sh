#!/usr/bin/env bash
# Installs every Debian package the project needs (only what is missing) and builds
# into build/ (Debug, AddressSanitizer + UBSan). Idempotent; safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential g++ cmake ninja-build pkg-config git python3 python3-cairo zip unzip
  libgtest-dev libgmock-dev
  libcurl4-openssl-dev libssl-dev openssl ca-certificates zlib1g-dev libtinyxml2-dev libeasyloggingpp-dev libstb-dev
  libcairo2-dev libpango1.0-dev libx11-dev libxext-dev libcpp-httplib-dev
  xvfb xauth xdotool x11-apps x11-utils imagemagick
  fonts-wqy-zenhei fonts-dejavu fonts-liberation fonts-lohit-deva fonts-tlwg-loma-ttf
  nginx aria2 curl time osslsigncode clang libclang-rt-14-dev lld procps psmisc
  apache2-bin lighttpd tinyproxy-bin
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

BUILD_DIR=${BUILD_DIR:-build}
BUILD_TYPE=${BUILD_TYPE:-Debug}
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE"
fi
cmake --build "$BUILD_DIR" -j "$(nproc)"
