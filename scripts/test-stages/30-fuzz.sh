#!/usr/bin/env bash
# Builds the fuzz harnesses with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer (build-fuzz) and runs each for a bounded time
# (LEDGERLY_FUZZ_SECONDS, 30 by default) from its seed corpus. A finding
# fails the stage; its input is kept in build-fuzz/findings, to be added to
# the corpus and to a regression test. LEDGERLY_FUZZ_BUILD names another
# build folder.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${LEDGERLY_FUZZ_SECONDS:-30}
build=${LEDGERLY_FUZZ_BUILD:-build-fuzz}
sanitizers="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all"
CC=clang CXX=clang++ cmake -S . -B "$build" -DLEDGERLY_WERROR=ON -DLEDGERLY_BUILD_TESTS=OFF \
  -DLEDGERLY_BUILD_FUZZERS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS=$sanitizers -fno-omit-frame-pointer" \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" >/dev/null
cmake --build "$build" -j2 --target fuzz_line_reader fuzz_convert fuzz_util_text \
  fuzz_record_index fuzz_adx_reader

corpus=tests/fuzz/corpus
adif_words=-dict=tests/fuzz/adif.dict
mkdir -p "$build/findings"

# run_fuzzer HARNESS [OPTION...] -- SEED_FOLDER...: a fresh working corpus
# first (libFuzzer adds what it finds there), then the seed folders.
run_fuzzer() {
  local harness=$1
  shift
  local options=()
  while [ "$1" != "--" ]; do
    options+=("$1")
    shift
  done
  shift
  local work=$build/ci/$harness
  rm -rf "$work"
  mkdir -p "$work"
  echo "--- fuzz_$harness for ${seconds}s"
  if ! "$build/tests/fuzz/fuzz_$harness" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/findings/$harness-" \
    "${options[@]}" "$work" "$@" >"$work.log" 2>&1; then
    tail -n 60 "$work.log"
    echo "fuzz_$harness found a fault; its input is in $build/findings" >&2
    return 1
  fi
  grep -E '^stat::number_of_executed_units|^Done' "$work.log"
}

run_fuzzer line_reader "$adif_words" -- "$corpus/line_reader" "$corpus/convert"
run_fuzzer convert "$adif_words" -- "$corpus/convert" "$corpus/line_reader"
run_fuzzer util_text -max_len=4096 -- "$corpus/util_text"
run_fuzzer record_index "$adif_words" -- "$corpus/convert" "$corpus/line_reader"
run_fuzzer adx_reader -dict=tests/fuzz/adx.dict -- "$corpus/adx"
echo "Fuzzing found nothing in ${seconds}s per harness."
