#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the application need.
# Runs apt-get directly as root, through sudo otherwise; does nothing when all are present.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  qt6-base-dev libgl-dev
  libqt6sql6-sqlite
  xvfb
  qt6-charts-dev libqt6opengl6-dev
  libusb-1.0-0-dev libjpeg62-turbo-dev libffi-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev lld
  dpkg-dev lintian
  umockdev libumockdev-dev
  python3
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
