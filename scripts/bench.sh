#!/usr/bin/env bash
# Benchmarks ledgerly-convert against the floor of any two-pass line reader.
#
#   scripts/bench.sh [--rounds N] [--no-micro] [--cpu LIST]
#
# Builds the converter and the bench tools (Release, -O2) in build-bench (or
# $LEDGERLY_BENCH_BUILD), writes the generated logs to bench/data once (about
# 2 GB, git-ignored), then in one run, interleaved, converts the logs of
# 10,000, 100,000 and 1,000,000 records and runs the floor program on the same
# files, and prints per size the median wall time, MB/s, records/s, peak RSS
# and the ratio to the floor's median. Then the cost per field for records of
# 15 and of 150 fields; the same logs to a workbook (.xlsx) beside their CSV
# conversion; ADX logs of 10,000 and 1,000,000 records; the 4,000,000-record
# log with a duplicate field in every record (a message per record); then the
# micro-benchmarks. --cpu N runs every program on CPU N alone (taskset): on
# a virtual machine whose CPUs differ in speed (one shared with a busy
# neighbour), a run that lands on either gives ratios that jump from run to
# run. N is a taskset list: the workbook deflates on a second thread, which
# --cpu 0 puts on the same CPU and --cpu 0,1 on the other. Takes about a quarter of an hour; not part of the test
# run. Linux (POSIX) only.
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=7
micro=1
pin=()
while (($#)); do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --no-micro) micro=0; shift ;;
    --cpu) pin=(taskset -c "$2"); shift 2 ;;
    *) echo "usage: scripts/bench.sh [--rounds N] [--no-micro] [--cpu LIST]" >&2; exit 2 ;;
  esac
done

build=${LEDGERLY_BENCH_BUILD:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DLEDGERLY_WERROR=ON -DLEDGERLY_BUILD_TESTS=OFF -DLEDGERLY_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target ledgerly-convert make-bench-log bench-floor bench-run \
  micro-bench >/dev/null

# A log is made again when the generator was rebuilt after it.
mkdir -p bench/data
generate() {
  local file=bench/data/$1
  shift
  if [ ! -s "$file" ] || [ "$build/bench/make-bench-log" -nt "$file" ]; then
    "$build/bench/make-bench-log" "$@" >"$file.part" && mv "$file.part" "$file"
  fi
}
generate log-10k.adi 10000
generate log-100k.adi 100000
generate log-1m.adi 1000000
generate wide-15.adi 20000 --fields 15
generate wide-150.adi 20000 --fields 150
generate log-10k.adx 10000 --adx
generate log-1m.adx 1000000 --adx
generate dup-4m.adi 4000000 --duplicate

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'),"\
  "$(awk '/MemTotal/ {printf "%.0f GB", $2 / 1048576}' /proc/meminfo), $(uname -sr)"
echo "commit: $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
echo "CPU: ${pin[*]:-any}"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "== Log sizes (ledgerly-convert LOG - >/dev/null; floor: bench-floor LOG >/dev/null)"
"${pin[@]}" "$build/bench/bench-run" --convert "$build/cli/ledgerly-convert" --floor "$build/bench/bench-floor" \
  --rounds "$rounds" bench/data/log-10k.adi bench/data/log-100k.adi bench/data/log-1m.adi
echo
echo "== Fields per record (20,000 records of 15 and of 150 fields)"
"${pin[@]}" "$build/bench/bench-run" --convert "$build/cli/ledgerly-convert" --floor "$build/bench/bench-floor" \
  --rounds "$rounds" bench/data/wide-15.adi:15 bench/data/wide-150.adi:150
workbook=$(mktemp -d)
trap 'rm -rf "$workbook"' EXIT
xlsx_rounds=$((rounds < 3 ? rounds : 3))
echo
echo "== Workbook (ledgerly-convert LOG OUT.xlsx) beside the CSV (ledgerly-convert LOG -)"
"${pin[@]}" "$build/bench/bench-run" --convert "$build/cli/ledgerly-convert" --floor "$build/bench/bench-floor" \
  --rounds "$xlsx_rounds" --xlsx "$workbook/bench.xlsx" \
  bench/data/log-10k.adi bench/data/log-100k.adi bench/data/log-1m.adi
echo
echo "== ADX logs (ledgerly-convert LOG.adx -; floor: bench-floor LOG.adx)"
"${pin[@]}" "$build/bench/bench-run" --convert "$build/cli/ledgerly-convert" --floor "$build/bench/bench-floor" \
  --rounds "$xlsx_rounds" bench/data/log-10k.adx bench/data/log-1m.adx
echo
echo "== A duplicate field in each of 4,000,000 records (a message per record)"
"${pin[@]}" "$build/bench/bench-run" --convert "$build/cli/ledgerly-convert" --floor "$build/bench/bench-floor" \
  --rounds 1 bench/data/dup-4m.adi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
if ((micro)); then
  echo
  echo "== Micro-benchmarks"
  "${pin[@]}" "$build/bench/micro-bench" --benchmark_min_time=0.2
fi
