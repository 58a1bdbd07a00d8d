#!/usr/bin/env bash
# Builds ledgerly-convert alone (the package preset, without the tests, in
# build/package), installing what that needs first when something is missing,
# and converts the bundled sample log to a CSV file and to a workbook, then
# shows the start of the CSV file.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --check >/dev/null || bash scripts/install-deps.sh
cmake --preset package >/dev/null
cmake --build --preset converter
convert=build/package/cli/ledgerly-convert
"$convert" examples/station-log.adi build/station-log.CSV
"$convert" examples/station-log.adi build/station-log.xlsx 2>/dev/null
echo "--- first lines of build/station-log.CSV (the same log as a workbook: build/station-log.xlsx):"
head -n 8 build/station-log.CSV
