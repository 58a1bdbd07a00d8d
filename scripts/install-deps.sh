#!/usr/bin/env bash
# Installs what building and testing Ledgerly needs on Debian 12 (run as root).
set -euo pipefail
packages=(
  g++ cmake make googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb xdotool imagemagick
  clang libclang-rt-14-dev valgrind time libexpat1-dev
  libxlsxwriter-dev python3-openpyxl libreoffice-calc-nogui
  dpkg-dev mandoc man-db unzip
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y "${missing[@]}"
fi
