#!/usr/bin/env bash
# Builds ledgerly-convert and converts the bundled sample log to a CSV file
# and to a workbook, then shows the start of the CSV file.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v cmake >/dev/null && command -v g++ >/dev/null || bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target ledgerly-convert
build/default/cli/ledgerly-convert examples/station-log.adi build/station-log.CSV
build/default/cli/ledgerly-convert examples/station-log.adi build/station-log.xlsx 2>/dev/null
echo "--- first lines of build/station-log.CSV (the same log as a workbook: build/station-log.xlsx):"
head -n 8 build/station-log.CSV
