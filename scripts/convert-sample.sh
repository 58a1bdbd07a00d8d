#!/usr/bin/env bash
# Builds ledgerly-convert and converts the bundled sample log, then shows the
# start of the CSV file it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v cmake >/dev/null && command -v g++ >/dev/null || bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target ledgerly-convert
build/default/cli/ledgerly-convert examples/station-log.adi build/station-log.CSV
echo "--- first lines of build/station-log.CSV:"
head -n 8 build/station-log.CSV
