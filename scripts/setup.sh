#!/usr/bin/env bash
# Installs every Debian package Kovira needs to build, run and test, then
# configures and builds it. Safe to run again: it installs only what is missing.
#   scripts/setup.sh            install + configure + build (Release with debug info)
#   scripts/setup.sh --deps     install only
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential cmake pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  rapidjson-dev libfmt-dev libsqlite3-dev libcurl4-openssl-dev libcpp-httplib-dev
  libqrencode-dev libsodium-dev libcups2-dev cups-daemon cups-client poppler-utils
  fonts-dejavu-core
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

[ "${1:-}" = "--deps" ] && exit 0

BUILD_DIR="${KOVIRA_BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="${KOVIRA_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
