#!/usr/bin/env bash
# Checks that two ledgerly-convert builds give byte-identical results: the CSV
# (standard output), the messages (standard error) and the exit status, on the
# benchmark logs in bench/data (ADIF and ADX), every .adi under examples/ and
# tests/, the fuzz corpora of the reader and the conversion, COUNT small logs
# full of awkward input from make-bench-log --mixed and COUNT correct logs in
# awkward shapes from make-bench-log --correct.
#
#   bench/compare_outputs.sh [--keep-going] [--generated mixed|correct|both]
#                            OLD_CONVERT NEW_CONVERT MAKE_BENCH_LOG [COUNT]
#
# Prints per log the sha256 of the CSV, the start of the messages' sha256 and
# the exit status; exits 1 at the first difference, or with --keep-going
# after listing every difference. A change to how damaged logs are read
# shows on the mixed logs and some corpus files; the correct logs must
# never differ.
set -euo pipefail
keep_going=0 generated=both
while [ $# -gt 0 ]; do
  case $1 in
    --keep-going) keep_going=1; shift ;;
    --generated) generated=$2; shift 2 ;;
    *) break ;;
  esac
done
old=$1 new=$2 make_log=$3 count=${4:-2000}
root="$(cd "$(dirname "$0")/.." && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
differences=0

same() {  # same LOG [NAME]: runs both builds on LOG and compares everything
  local log=$1 old_status=0
  new_status=0
  "$old" "$log" - >"$work/old.csv" 2>"$work/old.err" || old_status=$?
  "$new" "$log" - >"$work/new.csv" 2>"$work/new.err" || new_status=$?
  if ! cmp -s "$work/old.csv" "$work/new.csv" || ! cmp -s "$work/old.err" "$work/new.err" ||
     [ "$old_status" != "$new_status" ]; then
    echo "DIFFERENT: ${2:-$log} (exit $old_status vs $new_status)"
    cmp "$work/old.csv" "$work/new.csv" || true
    cmp "$work/old.err" "$work/new.err" || true
    differences=$((differences + 1))
    [ "$keep_going" = 1 ] || exit 1
  fi
}

shopt -s nullglob globstar
logs=("$root"/bench/data/*.adi "$root"/bench/data/*.adx "$root"/examples/**/*.adi "$root"/tests/**/*.adi
  "$root"/tests/fuzz/corpus/convert/* "$root"/tests/fuzz/corpus/line_reader/*)
for log in "${logs[@]}"; do
  same "$log"
  echo "$(sha256sum <"$work/new.csv" | cut -c1-64)  $(sha256sum <"$work/new.err" | cut -c1-12)" \
    "exit $new_status  ${log#"$root"/}"
done
kinds=()
[ "$generated" = correct ] || kinds+=(mixed)
[ "$generated" = mixed ] || kinds+=(correct)
for kind in "${kinds[@]}"; do
  : >"$work/$kind.sums"
  for ((seed = 1; seed <= count; seed++)); do
    "$make_log" "--$kind" "$seed" >"$work/$kind.adi"
    same "$work/$kind.adi" "$kind log $seed"
    sha256sum <"$work/new.csv" | cut -c1-64 >>"$work/$kind.sums"
    sha256sum <"$work/new.err" | cut -c1-64 >>"$work/$kind.sums"
  done
  [ "$count" -gt 0 ] && echo "$(sha256sum <"$work/$kind.sums" | cut -c1-64)  all outputs of $count $kind logs"
done
if [ "$differences" -gt 0 ]; then
  echo "$differences logs differ"
  exit 1
fi
echo "identical: ${#logs[@]} logs and $count generated logs of each kind (${kinds[*]})"
