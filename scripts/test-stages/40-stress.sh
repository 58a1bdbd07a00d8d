#!/usr/bin/env bash
# Converts very large and hostile logs with ledgerly-convert (build-stress)
# and checks each outcome (exit status, records, CSV lines) and the peak
# memory: it must stay bounded by the largest record plus a constant, never
# grow with the size of the file.
set -eu # no pipefail: the generators end `yes` with a broken pipe
cd "$(dirname "$0")/../.."
build=build-stress
data=$build/data
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DLEDGERLY_WERROR=ON -DLEDGERLY_BUILD_TESTS=OFF \
  >/dev/null
cmake --build "$build" -j2 --target ledgerly-convert
convert=$build/cli/ledgerly-convert
rm -rf "$data"
mkdir -p "$data"
trap 'rm -rf "$data"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# check NAME STATUS RECORDS CSV_LINES MAX_RSS_KB: converts $data/NAME.adi
# and compares the outcome; CSV_LINES - skips the line count.
check() {
  local name=$1 want_status=$2 want_records=$3 want_lines=$4 max_kb=$5
  local adif=$data/$name.adi csv=$data/$name.CSV err=$data/$name.err
  local status=0
  /usr/bin/time -f '%M %e' -o "$data/$name.time" "$convert" "$adif" "$csv" 2>"$err" || status=$?
  local peak_kb seconds
  # GNU time writes "Command exited with non-zero status N" before the figures.
  read -r peak_kb seconds < <(tail -n 1 "$data/$name.time")
  local bytes
  bytes=$(stat -c %s "$adif")
  printf '%-34s %11d bytes  exit %d  peak %7d KB  %6.2f s\n' "$name" "$bytes" "$status" \
    "$peak_kb" "$seconds"
  [ "$status" = "$want_status" ] || fail "$name: exit status $status, expected $want_status"
  grep -q "^Converted $want_records ADIF records to CSV format$" "$err" ||
    fail "$name: expected $want_records records: $(tail -n 2 "$err" | cut -c1-200)"
  if [ "$want_lines" != "-" ]; then
    local lines
    lines=$(wc -l <"$csv")
    [ "$lines" = "$want_lines" ] || fail "$name: $lines CSV lines, expected $want_lines"
  fi
  [ "$peak_kb" -le "$max_kb" ] || fail "$name: peak memory $peak_kb KB over $max_kb KB"
}

record='<CALL:5>K1ABC <QSO_DATE:8>20240105 <TIME_ON:4>0930 <BAND:3>20m <MODE:2>CW <EOR>'
small_kb=16384 # what any log without a large record may take

# A 300 MB file without a single line end: the first read fills the buffer,
# the conversion stops at once (status 3) and reads nothing more.
yes "$record" | tr -d '\n' | head -c 300000000 >"$data/line-free-300MB.adi"
check line-free-300MB 3 0 1 "$small_kb"
grep -c '^ERROR: Truncated input line: ' "$data/line-free-300MB.err" | grep -qx 1 ||
  fail "line-free-300MB: the truncation message should be printed once"

# A line of 100,000 characters after 1,000 records: those records are
# converted, then the conversion stops (status 3).
{
  yes "$record" | head -n 1000
  printf '<NOTES:99985>%s<EOR>\n' "$(head -c 99985 /dev/zero | tr '\0' 'n')"
  yes "$record" | head -n 1000
} >"$data/line-100000.adi"
check line-100000 3 1000 1001 "$small_kb"

# A value of 100,000 characters over 1,000 short lines is one field.
{
  printf '<CALL:4>W1AW <NOTES:100000>'
  yes "$(head -c 99 /dev/zero | tr '\0' 'v')" | head -n 1000
  printf '<EOR>\n'
} >"$data/value-100000.adi"
check value-100000 0 1 - "$small_kb"

# Memory does not grow with the number of records: 2,000 and 400,000 records.
yes "$record" | head -n 2000 >"$data/records-2000.adi"
yes "$record" | head -n 400000 >"$data/records-400000.adi"
check records-2000 0 2000 2001 "$small_kb"
check records-400000 0 400000 400001 "$small_kb"
read -r few_kb _ < <(tail -n 1 "$data/records-2000.time")
read -r many_kb _ < <(tail -n 1 "$data/records-400000.time")
[ $((many_kb - few_kb)) -le 2048 ] ||
  fail "400,000 records took $((many_kb - few_kb)) KB more than 2,000"

# The largest record sets the bound: a 64 MB value, then the same value
# declared 2147483647 long, so that it swallows the rest of the input.
# Allowed: twice the record (the value and its growth) plus the constant.
value_lines=$((64 * 1024 * 1024 / 64))
{
  printf '<CALL:4>W1AW <NOTES:%d>' $((value_lines * 64))
  yes "$(head -c 63 /dev/zero | tr '\0' 'v')" | head -n "$value_lines"
  printf '<EOR>\n%s\n' "$record"
} >"$data/record-64MB.adi"
check record-64MB 0 2 - $((2 * 65536 + small_kb))
{
  printf '%s\n<NOTES:2147483647>' "$record"
  yes "$(head -c 63 /dev/zero | tr '\0' 'v')" | head -n "$value_lines"
} >"$data/length-int32-max.adi"
# The value runs past the end of the file: reported, status 3.
check length-int32-max 3 1 2 $((2 * 65536 + small_kb))
grep -q 'The log ends inside the value of <NOTES:2147483647>' "$data/length-int32-max.err" ||
  fail "length-int32-max: the value past the end of the file should be reported"

# 100,000 distinct fields in one record, one per line: the record, its
# columns and their index take about 120 bytes a field, and the reader's
# table of the log's names, which looks each name up once, about 100 more.
{
  seq -f '<F%06g:1>x' 0 99999
  printf '<EOR>\n'
} >"$data/fields-100000.adi"
check fields-100000 0 1 2 $((small_kb + 100000 * 160 / 1024))

if [ "$failures" -ne 0 ]; then
  echo "$failures stress check(s) failed" >&2
  exit 1
fi
echo "All stress checks passed."
