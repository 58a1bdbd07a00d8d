#!/usr/bin/env bash
# Builds Ledgerly and runs every test: the native unit tests, then each stage
# in scripts/test-stages (Windows build under Wine, sanitizers, fuzzing, stress).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --tests
cmake --workflow --preset default
for stage in scripts/test-stages/*.sh; do
  [ -e "$stage" ] || continue
  echo "=== ${stage##*/}"
  bash "$stage"
done
echo "All Ledgerly tests passed."
