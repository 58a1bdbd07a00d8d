#!/usr/bin/env bash
# Builds the Windows libraries, Ledgerly.exe and the tests with MinGW-w64 (the
# windows preset) and runs them under Wine: the core tests, then the tests of
# the window and of the program's resources, all inside a headless X display
# (Xvfb). Leaves the screenshot taken after a conversion in
# build/windows/ledgerly-window.png and, when the tests pass, the ZIP archive
# of the programs in build/windows/Ledgerly-VERSION-win64.zip. The release
# command, scripts/build-windows.sh, builds the same programs with the
# windows-release preset, which inherits this preset's sources and options
# and leaves out the tests.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build/windows
export WINEDEBUG=-all

# Static libxlsxwriter and Expat for Windows, built once into build/mingw-deps
# (kept while Debian's sources and the recipe stay the same).
cmake/build-mingw-deps.sh build/mingw-deps
cmake --preset windows
cmake --build --preset windows

# Make a new Wine prefix now (its first start takes a while), not inside a
# timed test, so that nothing an earlier run left in its registry counts: in
# $LEDGERLY_WINEPREFIX when it is set, else in /tmp, else in the home folder
# (a small /tmp may not hold its 700 MB). Stop its wineserver however the
# stage ends.
if [ -n "${LEDGERLY_WINEPREFIX-}" ]; then
  places=("$LEDGERLY_WINEPREFIX")
else
  places=("${TMPDIR:-/tmp}/ledgerly-wine-$(id -u)" "${HOME:-$PWD/$build}/.cache/ledgerly-wine")
fi
trap 'wineserver -k 2>/dev/null || true' EXIT
for place in "${places[@]}"; do
  export LEDGERLY_WINEPREFIX="$place" WINEPREFIX="$place"
  wineserver -k 2>/dev/null || true
  if [ -e "$place/.ledgerly-ready" ]; then rm -rf "$place"; fi
  echo "Wine prefix: $place"
  if cmake/wine-run.sh --prepare; then prepared=1; break; fi
done
[ -n "${prepared-}" ] || exit 1

status=0
timeout 1200 xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset windows || status=$?

shot="$build/tests/gui/ledgerly-window.bmp"
if [ -s "$shot" ]; then
  converter=$(command -v convert-im6.q16 || command -v convert || true)
  if [ -n "$converter" ]; then
    "$converter" "$shot" -strip "$build/ledgerly-window.png"
    echo "Screenshot: $build/ledgerly-window.png (copy it to docs/ledgerly-window.png for the README)"
  fi
fi
if [ "$status" = 0 ]; then
  (cd "$build" && cpack -G ZIP >/dev/null) || status=$?
  for zip in "$build"/Ledgerly-*-win64.zip; do echo "Archive: $zip"; done
fi
exit "$status"
