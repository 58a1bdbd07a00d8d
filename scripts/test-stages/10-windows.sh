#!/usr/bin/env bash
# Builds Ledgerly.exe and the tests with MinGW-w64 (the windows preset) and
# runs them under Wine: the core tests, then the tests of the window and of
# the program's resources, all inside a headless X display (Xvfb). Leaves the
# screenshot taken after a conversion in build/windows/ledgerly-window.png.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build/windows
export WINEDEBUG=-all
export WINEPREFIX="$PWD/$build/wineprefix"

cmake --preset windows
cmake --build --preset windows

# Make the Wine prefix now (its first start takes a while), not inside a
# timed test.
cmake/wine-run.sh "$WINEPREFIX" cmd /c exit 0

status=0
timeout 1200 xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset windows || status=$?
wineserver -k 2>/dev/null || true

shot="$build/tests/gui/ledgerly-window.bmp"
if [ -s "$shot" ]; then
  converter=$(command -v convert-im6.q16 || command -v convert || true)
  if [ -n "$converter" ]; then
    "$converter" "$shot" -strip "$build/ledgerly-window.png"
    echo "Screenshot: $build/ledgerly-window.png (copy it to docs/ledgerly-window.png for the README)"
  fi
fi
exit "$status"
