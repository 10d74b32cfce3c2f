#!/usr/bin/env bash
# Installs what building, running and testing Voxmere need on Debian 12.
# Packages already present are skipped, so a second run costs nothing.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  wine64 xvfb xauth x11-utils imagemagick
  unzip
  chromium
  fonts-noto-cjk fonts-noto-core
)
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
