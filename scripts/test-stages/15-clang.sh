#!/usr/bin/env bash
# Builds Ledgerly and its native tests with Clang (the clang preset,
# build/clang), warnings as errors as with GCC, and runs the tests. This
# build scans logs without SSE2 (LEDGERLY_PORTABLE_SCAN), as on processors
# that lack it; the GCC builds test the SSE2 scan.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset clang >/dev/null
cmake --build --preset clang
ctest --preset clang
