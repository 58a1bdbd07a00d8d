#!/usr/bin/env bash
# Makes the Windows download, build/windows-release/Ledgerly-VERSION-win64.zip:
# Ledgerly.exe and ledgerly-convert.exe (the windows-release preset: the
# windows preset's sources and options, without the tests), README.txt for
# Windows users, the sample log and LICENSES.txt (the licences and versions
# of the libraries linked in). Installs what the build needs first when
# something is missing (scripts/install-deps.sh --windows), builds the
# libraries for Windows into build/mingw-deps when they are missing or out of
# date, and checks that the programs import no DLL but Windows's own.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/windows-release

bash scripts/install-deps.sh --windows --check >/dev/null || bash scripts/install-deps.sh --windows
# Strict (fail unless each library is the newest release apt offers) when
# the newest sources can be fetched; when the archive lacks their files, the
# newest that can be fetched is built, with a loud warning.
strict=()
if cmake/build-mingw-deps.sh --fetchable; then
  strict=(--strict)
else
  echo "build-windows: the archive does not give the newest sources of every library;" \
    "building the newest ones it gives" >&2
fi
cmake/build-mingw-deps.sh "${strict[@]}" build/mingw-deps
cmake --preset windows-release >/dev/null
cmake --build --preset windows-release
cmake -DOBJDUMP=x86_64-w64-mingw32-objdump \
  "-DPROGRAMS=$build/gui/Ledgerly.exe;$build/cli/ledgerly-convert.exe" \
  -P tests/windows_imports.cmake
rm -f "$build"/Ledgerly-*-win64.zip
(cd "$build" && cpack -G ZIP >/dev/null)
for zip in "$build"/Ledgerly-*-win64.zip; do echo "Windows download: $zip"; done
