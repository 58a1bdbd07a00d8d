#!/usr/bin/env bash
# Builds Ledgerly with AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer (the asan preset, build/asan) and runs the whole unit-test
# suite under them; any sanitizer report fails the test that caused it.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan
