#!/usr/bin/env bash
# Puts ledgerly-convert (build-faults) through the faults a user's machine
# can throw at it: a full disk, Ctrl-C, kill -9 and every other fatal signal
# at any moment, two runs writing one output, read errors in either pass, a
# log that grows, shrinks or is rewritten while it is converted, other users'
# files, FIFOs, endless inputs, closed or shared standard streams, and four
# million messages. Each check prints one line. The previous output must survive
# every failure byte for byte; no temporary file may stay behind after a
# failure the converter saw coming.
#
# Needs root (a tmpfs mount) and strace.
set -u # no -e: the checks look at failing runs; no pipefail: `yes` ends with a broken pipe
cd "$(dirname "$0")/../.." || exit 1
if [ "$(id -u)" != 0 ]; then
  echo "50-faults: skipped, the fault checks need root (they mount a small tmpfs)"
  exit 0
fi
command -v strace >/dev/null || {
  echo "50-faults: strace is missing (apt-get install strace)" >&2
  exit 1
}
build="build-faults"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DLEDGERLY_WERROR=ON -DLEDGERLY_BUILD_TESTS=OFF \
  >/dev/null || exit 1
cmake --build "$build" -j2 --target ledgerly-convert >/dev/null || exit 1
convert=$PWD/$build/cli/ledgerly-convert
data=$PWD/$build/fault-data
full=$data/full
cleanup() {
  mountpoint -q "$full" && umount "$full"
  rm -rf "$data"
}
cleanup
ulimit -c 0 # the signals that dump core must not fill the folder
mkdir -p "$data" "$full"
trap cleanup EXIT
cd "$data" || exit 1

failures=0
pass() { printf 'ok    %s\n' "$*"; }
fail() {
  printf 'FAIL  %s\n' "$*"
  failures=$((failures + 1))
}
# The temporary files left in folder $1, one a line.
leftovers() { find "$1" -maxdepth 1 -name '.*.part'; }

record='<CALL:5>K1ABC <QSO_DATE:8>20240105 <TIME_ON:4>0930 <BAND:3>20m <MODE:2>CW <EOR>'
other='<CALL:4>W1AW <QSO_DATE:8>20231231 <FREQ:6>14.074 <MODE:3>FT8 <EOR>'
printf '%s\n' "$record" "$other" >small.adi
"$convert" small.adi old.csv 2>/dev/null # the previous output of every check
yes "$record" | head -n 700000 >big.adi  # about 0.5 to 1 s to convert
yes "$other" | head -n 600000 >big-other.adi
start=$(date +%s%N)
"$convert" big.adi big-ref.csv 2>/dev/null
seconds_ms=$((($(date +%s%N) - start) / 1000000))
"$convert" big-other.adi big-other-ref.csv 2>/dev/null

# A full disk: the write fails, the old CSV stays, no temporary file.
mount -t tmpfs -o size=2m tmpfs "$full"
cp old.csv "$full/log.csv"
status=0
"$convert" big.adi "$full/log.csv" 2>full.err || status=$?
if [ "$status" = 1 ] && grep -q 'No space left on device' full.err &&
  cmp -s old.csv "$full/log.csv" && [ -z "$(leftovers "$full")" ]; then
  pass "full disk: exit 1, \"No space left on device\", old CSV kept, no .part file"
else
  fail "full disk: exit $status, $(tail -n 1 full.err), files: $(find "$full" -mindepth 1 -printf '%f ')"
fi
# The same for a workbook, whose sheet is compressed into it as the rows
# come: the old workbook stays, and neither the temporary workbook nor the
# file of its other parts.
"$convert" small.adi old.xlsx 2>/dev/null
cp old.xlsx "$full/log.xlsx"
status=0
"$convert" big.adi "$full/log.xlsx" 2>full.err || status=$?
if [ "$status" = 1 ] && grep -q 'No space left on device' full.err &&
  cmp -s old.xlsx "$full/log.xlsx" && [ -z "$(find "$full" -name '.*.part*')" ]; then
  pass "full disk, workbook: exit 1, \"No space left on device\", old workbook kept, nothing left"
else
  fail "full disk, workbook: exit $status, $(tail -n 1 full.err), files: $(find "$full" -mindepth 1 -printf '%f ')"
fi
# A log on standard input is copied to the temporary folder: when that is
# full, the run fails the same way.
cp old.csv piped-full.csv
status=0
# shellcheck disable=SC2002 # a pipe, which cannot be read twice
cat big.adi | TMPDIR=$full "$convert" - piped-full.csv 2>full.err || status=$?
if [ "$status" = 1 ] && grep -q 'No space left on device' full.err && cmp -s old.csv piped-full.csv &&
  [ -z "$(leftovers .)" ]; then
  pass "full temporary folder for a piped log: exit 1, \"No space left on device\", old CSV kept"
else
  fail "full temporary folder for a piped log: exit $status, $(tail -n 1 full.err | cut -c1-160)"
fi
# An endless input that is no log is refused from its first bytes, before
# anything is copied to the (small) temporary folder.
for input in /dev/zero -; do
  status=0
  TMPDIR=$full timeout 20 "$convert" "$input" zero.csv </dev/zero 2>zero.err || status=$?
  if [ "$status" = 1 ] && grep -q 'is not an ADIF or ADX log' zero.err && [ ! -e zero.csv ]; then
    pass "endless input that is no log ($input from /dev/zero): refused at once, exit 1"
  else
    fail "endless input that is no log ($input from /dev/zero): exit $status, $(tail -n 1 zero.err | cut -c1-160)"
  fi
done
umount "$full"

# interrupt SIGNAL [RUNS]: RUNS (12) runs over the old CSV, each sent SIGNAL
# after a random part of a conversion's time. The target is the old CSV or
# the whole new one; only SIGKILL may leave the temporary file.
interrupt() {
  local signal=$1 runs=${2:-12} stopped=0 broken=0 left=0 status
  for _ in $(seq "$runs"); do
    cp old.csv target.csv
    # A background job of a script ignores SIGINT and SIGQUIT, and the
    # caller may ignore others: each signal at its default, as in a terminal.
    env --default-signal "$convert" big.adi target.csv 2>/dev/null &
    local pid=$!
    sleep "$(awk -v r="$RANDOM" -v ms="$seconds_ms" 'BEGIN { printf "%.3f", r / 32768 * ms * 0.8 / 1000 }')"
    kill -s "$signal" "$pid" 2>/dev/null
    status=0
    wait "$pid" 2>/dev/null || status=$? # no "Killed" notice
    [ "$status" -gt 128 ] && stopped=$((stopped + 1))
    cmp -s target.csv old.csv || cmp -s target.csv big-ref.csv || broken=$((broken + 1))
    [ -n "$(leftovers .)" ] && left=$((left + 1))
    find . -maxdepth 1 -name '.*.part' -delete
  done
  if [ "$broken" -ne 0 ]; then
    fail "$signal: $broken of $runs runs left a CSV that is neither the old one nor the whole new one"
  elif [ "$stopped" -eq 0 ]; then
    fail "$signal: no run was stopped by the signal"
  elif [ "$signal" != KILL ] && [ "$left" -ne 0 ]; then
    fail "$signal: $left of $runs runs left a .part file"
  else
    pass "$signal at random moments: $stopped of $runs runs stopped, the CSV old or whole each time," \
      "$left .part files left"
  fi
}
interrupt INT
interrupt TERM
interrupt HUP
interrupt KILL
# Every other signal that ends a process by default: those that users, pipes,
# limits and timers send, then the rest (faults, real-time), fewer times.
for signal in QUIT PIPE XFSZ ALRM USR1 USR2 VTALRM PROF; do interrupt "$signal"; done
for signal in ILL TRAP ABRT BUS FPE SEGV SYS XCPU STKFLT IO PWR RTMIN RTMAX; do
  interrupt "$signal" 4
done

# The same signals as they come: the messages piped into `head -n 1` (SIGPIPE
# at the second message), a file-size limit (SIGXFSZ).
yes '<CALL:4>K1AB<BAND:3>20m<BAND:3>40m<EOR>' | head -n 100000 >messages.adi
cp old.csv target.csv
env --default-signal=PIPE "$convert" messages.adi target.csv 2>&1 | head -n 1 >/dev/null
status=${PIPESTATUS[0]}
if [ "$status" = 141 ] && cmp -s old.csv target.csv && [ -z "$(leftovers .)" ]; then
  pass "messages into a pipe closed early (2>&1 | head -n 1): SIGPIPE, old CSV kept, no .part file"
else
  fail "messages into a pipe closed early: exit $status, .part files: $(leftovers . | wc -l)"
fi
cp old.csv target.csv
status=0
# (The braces keep the shell's "File size limit exceeded" notice quiet.)
{ (ulimit -f 256 && exec env --default-signal=XFSZ "$convert" big.adi target.csv); } 2>/dev/null ||
  status=$?
if [ "$status" = 153 ] && cmp -s old.csv target.csv && [ -z "$(leftovers .)" ]; then
  pass "file-size limit (ulimit -f 256): SIGXFSZ, old CSV kept, no .part file"
else
  fail "file-size limit (ulimit -f 256): exit $status, .part files: $(leftovers . | wc -l)"
fi

# A workbook for standard output is made in the temporary folder under a
# name of its own: a folder planted under the name it once had changes
# nothing, a kill leaves nothing there, and a temporary folder whose path is
# too long is refused instead of falling back to /.
mkdir -p book-tmp/ledgerly-output.xlsx
status=0
TMPDIR=$data/book-tmp "$convert" --format xlsx small.adi - >book.xlsx 2>/dev/null || status=$?
if [ "$status" = 0 ] && unzip -tq book.xlsx >/dev/null &&
  [ "$(find book-tmp -mindepth 1 -printf '%f ')" = "ledgerly-output.xlsx " ]; then
  pass "workbook to standard output, a folder planted under the old fixed name: written, nothing left"
else
  fail "workbook to standard output, planted folder: exit $status, left: $(find book-tmp -mindepth 1)"
fi
mkdir -p book-killed
left=0
for _ in $(seq 4); do
  TMPDIR=$data/book-killed env --default-signal "$convert" --format xlsx big.adi - >book.xlsx \
    2>/dev/null &
  pid=$!
  sleep "$(awk -v r="$RANDOM" -v ms="$seconds_ms" 'BEGIN { printf "%.3f", r / 32768 * ms / 1000 }')"
  kill -s TERM "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  [ -z "$(ls -A book-killed)" ] || left=$((left + 1))
  find book-killed -mindepth 1 -delete
done
if [ "$left" = 0 ]; then
  pass "workbook to standard output, SIGTERM at random moments (4 runs): no scratch file left"
else
  fail "workbook to standard output, SIGTERM: $left of 4 runs left a file in the temporary folder"
fi
status=0
TMPDIR=/$(printf 'x%.0s' $(seq 5000)) "$convert" --format xlsx small.adi - >book.xlsx \
  2>book.err || status=$?
if [ "$status" = 1 ] && grep -q 'temporary folder' book.err &&
  [ -z "$(find / -maxdepth 1 -name 'ledgerly-*')" ]; then
  pass "workbook to standard output, a temporary folder path of 5,000 bytes: refused, exit 1"
else
  fail "workbook to standard output, long TMPDIR: exit $status, $(tail -n 1 book.err | cut -c1-160)"
fi

# Other users' files: converting over them keeps their owner, group and
# permission bits; a user who may not give a file away gets a file of their
# own, without set-user-ID and set-group-ID bits.
printf '%s\n' "$other" >one.adi
"$convert" one.adi one-ref.csv 2>/dev/null
mkdir -p -m 0777 shared
# ownership WHAT OWNER MODE RUNNER EXPECTED: RUNNER (root, or USER:GROUP)
# converts over a file of OWNER and MODE; EXPECTED is its owner and mode after.
ownership() {
  rm -f shared/owned.csv
  cp old.csv shared/owned.csv
  chown "$2" shared/owned.csv
  chmod "$3" shared/owned.csv
  local status=0 got
  if [ "$4" = root ]; then
    "$convert" one.adi shared/owned.csv 2>/dev/null || status=$?
  else
    setpriv --reuid="${4%:*}" --regid="${4#*:}" --init-groups "$convert" one.adi shared/owned.csv \
      2>/dev/null || status=$?
  fi
  got=$(stat -c '%U:%G %a' shared/owned.csv)
  if [ "$status" = 0 ] && [ "$got" = "$5" ] && cmp -s one-ref.csv shared/owned.csv &&
    [ -z "$(leftovers shared)" ]; then
    pass "$1: replaced, now $got"
  else
    fail "$1: exit $status, now $got (expected $5)"
  fi
}
ownership "root over nobody:nogroup 0640" nobody:nogroup 0640 root "nobody:nogroup 640"
ownership "root over a set-user-ID file of nobody" nobody:nogroup 4755 root "nobody:nogroup 4755"
ownership "nobody over root's set-ID file, group-writable for nogroup" root:nogroup 6775 nobody:nogroup \
  "nobody:nogroup 775"

# A FIFO as output is opened once (strace counts the opens) and receives the
# whole output, CSV or workbook.
mkfifo out.fifo
for format in csv xlsx; do
  timeout 20 cat out.fifo >"fifo.$format" &
  reader=$!
  status=0
  timeout 20 strace -f -o fifo.trace -e trace=open,openat "$convert" --format "$format" small.adi \
    out.fifo 2>/dev/null || status=$?
  wait "$reader"
  opens=$(grep -c '"out.fifo"' fifo.trace)
  if [ "$format" = csv ]; then
    whole=$(cmp -s old.csv fifo.csv && echo yes)
  else
    whole=$(unzip -tq fifo.xlsx >/dev/null && echo yes)
  fi
  if [ "$status" = 0 ] && [ "$opens" = 1 ] && [ "$whole" = yes ]; then
    pass "FIFO as the $format output: opened once, written whole"
  else
    fail "FIFO as the $format output: exit $status, opened $opens times, whole: ${whole:-no}"
  fi
done

# Two conversions into one output at once: one whole CSV, both succeed.
mixed=0
for _ in $(seq 5); do
  cp old.csv shared.csv
  "$convert" big.adi shared.csv 2>/dev/null &
  first=$!
  "$convert" big-other.adi shared.csv 2>/dev/null &
  second=$!
  status_first=0 status_second=0
  wait "$first" || status_first=$?
  wait "$second" || status_second=$?
  if [ "$status_first$status_second" != 00 ] ||
    ! { cmp -s shared.csv big-ref.csv || cmp -s shared.csv big-other-ref.csv; }; then
    mixed=$((mixed + 1))
  fi
done
if [ "$mixed" = 0 ] && [ -z "$(leftovers .)" ]; then
  pass "two conversions into one CSV at once (5 times): both exit 0, one whole CSV"
else
  fail "two conversions into one CSV at once: $mixed of 5 runs failed or mixed the outputs"
fi

# The read calls of a clean run, numbered as strace counts them: those on
# the log's descriptor between the rewinds into pass 1 and pass 2 (and after).
strace -f -o trace.txt -e trace=openat,read,lseek "$convert" big.adi trace.csv 2>/dev/null
read -r pass1 pass2 restart < <(awk '
  /openat\(.*"big.adi"/ { split($0, p, "= "); fd = p[2] + 0 }
  / read\(/ {
    reads++
    if (fd && index($0, "read(" fd ",")) { if (!first[rewinds]) first[rewinds] = reads; last[rewinds] = reads }
  }
  / lseek\(/ {
    seeks++
    if (fd && index($0, "lseek(" fd ",") && index($0, "SEEK_SET")) { rewinds++; if (rewinds == 2) at = seeks }
  }
  END { print int((first[1] + last[1]) / 2), int((first[2] + last[2]) / 2), at }' trace.txt)
# inject PASS N: the Nth read fails with EIO.
inject() {
  cp old.csv injected.csv
  local status=0
  strace -f -o /dev/null -e trace=read -e inject=read:error=EIO:when="$2" \
    "$convert" big.adi injected.csv 2>inject.err || status=$?
  # The read error is all that is said: no line or record cut short by it.
  if [ "$status" = 1 ] && grep -q 'Input/output error' inject.err && [ "$(wc -l <inject.err)" = 1 ] &&
    cmp -s old.csv injected.csv && [ -z "$(leftovers .)" ]; then
    pass "read error (EIO) in $1, read call $2: exit 1, \"Input/output error\" alone, old CSV kept"
  else
    fail "read error (EIO) in $1, read call $2: exit $status, $(tr '\n' ' ' <inject.err | cut -c1-200)"
  fi
}
inject "pass 1" "$pass1"
inject "pass 2" "$pass2"

# Failures while the output is made and put in place: a write (the 50th
# write call is well inside the CSV), the sync, the rename.
for fault in 'write:error=EIO:when=50|Input/output error' 'fsync:error=EIO|Input/output error' \
  'rename,renameat,renameat2:error=EACCES|Permission denied'; do
  cp old.csv injected.csv
  status=0
  strace -f -o /dev/null -e inject="${fault%|*}" "$convert" big.adi injected.csv 2>inject.err ||
    status=$?
  if [ "$status" = 1 ] && grep -q "${fault#*|}" inject.err && cmp -s old.csv injected.csv &&
    [ -z "$(leftovers .)" ]; then
    pass "failed ${fault%%[,:]*}: exit 1, \"${fault#*|}\", old CSV kept, no .part file"
  else
    fail "failed ${fault%%[,:]*}: exit $status, $(tr '\n' ' ' <inject.err | cut -c1-200)"
  fi
done

# changed WHAT: the conversion of a copy of big.adi (changing.adi) must fail
# as a log that changed, keeping the old CSV.
changed() {
  local status=$1
  if [ "$status" = 1 ] && grep -q 'changed while it was being converted' change.err &&
    cmp -s old.csv changed.csv && [ -z "$(leftovers .)" ]; then
    pass "$2: exit 1, \"changed while it was being converted\", old CSV kept"
  else
    fail "$2: exit $status, $(tail -n 1 change.err | cut -c1-160)"
  fi
}
cp big.adi changing.adi
cp old.csv changed.csv
"$convert" changing.adi changed.csv 2>change.err &
pid=$!
while kill -0 "$pid" 2>/dev/null; do
  printf '%s\n' "$record" >>changing.adi
  sleep 0.01
done
status=0
wait "$pid" || status=$?
changed "$status" "log growing during the conversion"
# between_passes WHAT COMMAND...: converts a copy of big.adi whose rewind
# into pass 2 is held back by a second; once pass 1 has read the log to its
# end, COMMAND changes it. The conversion must fail as a log that changed.
between_passes() {
  local what=$1
  shift
  cp big.adi changing.adi
  cp old.csv changed.csv
  strace -f -o /dev/null -e trace=lseek -e inject=lseek:delay_enter=1000000:when="$restart" \
    "$convert" changing.adi changed.csv 2>change.err &
  pid=$!
  position=0
  for _ in $(seq 500); do
    converter=$(awk '{ print $1; exit }' /proc/"$pid"/task/*/children 2>/dev/null)
    descriptor=$(find /proc/"${converter:-0}"/fd -lname "$data/changing.adi" -printf '%f\n' 2>/dev/null)
    [ -n "$descriptor" ] &&
      position=$(awk '/^pos:/ { print $2 }' /proc/"$converter"/fdinfo/"$descriptor" 2>/dev/null)
    [ "$position" = "$size" ] && break
    sleep 0.01
  done
  "$@"
  [ "$position" = "$size" ] || fail "$what: the end of pass 1 was not seen"
  status=0
  wait "$pid" || status=$?
  changed "$status" "$what"
}
size=$(stat -c %s big.adi)
between_passes "log cut to half between the passes" truncate -s $((size / 2)) changing.adi
# Rewritten in place with its size and modification time kept, as
# synchronising tools do: only the change time tells.
rewrite_in_place() {
  touch -r changing.adi stamp.ref
  printf 'W' | dd of=changing.adi bs=1 seek=$((size / 2 + 8)) conv=notrunc status=none
  touch -m -r stamp.ref changing.adi
}
between_passes "log rewritten in place between the passes, size and time kept" rewrite_in_place

# Standard streams.
cp small.adi same.adi
status=0
# shellcheck disable=SC2094 # the point: the output is the log
"$convert" - same.adi <same.adi 2>/dev/null || status=$?
if [ "$status" = 1 ] && cmp -s small.adi same.adi; then
  pass "ledgerly-convert - a.adi < a.adi: refused (exit 1), the log unchanged"
else
  fail "ledgerly-convert - a.adi < a.adi: exit $status, log changed: $(cmp small.adi same.adi)"
fi
status=0
# shellcheck disable=SC2094
"$convert" same.adi - >>same.adi 2>/dev/null || status=$?
if [ "$status" = 1 ] && cmp -s small.adi same.adi; then
  pass "ledgerly-convert a.adi - >> a.adi: refused (exit 1), the log unchanged"
else
  fail "ledgerly-convert a.adi - >> a.adi: exit $status, log changed: $(cmp small.adi same.adi)"
fi
printf '%s\n' '<CALL:4>K1AB <BAND:3>20m <BAND:3>40m <EOR>' >duplicate.adi
"$convert" duplicate.adi duplicate-ref.csv 2>/dev/null
status=0
"$convert" - closed-err.csv <duplicate.adi 2>&- || status=$?
if [ "$status" = 0 ] && cmp -s duplicate-ref.csv closed-err.csv; then
  pass "standard error closed (2>&-): the messages do not land in the CSV"
else
  fail "standard error closed (2>&-): exit $status, CSV: $(head -c 200 closed-err.csv)"
fi
status=0
"$convert" small.adi - >&- 2>closed-out.err || status=$?
if [ "$status" = 1 ] && grep -q 'standard output is closed' closed-out.err; then
  pass "standard output closed (>&-) with OUTPUT -: exit 1, \"standard output is closed\""
else
  fail "standard output closed (>&-) with OUTPUT -: exit $status, $(tail -n 1 closed-out.err)"
fi
cp old.csv closed-in.csv
status=0
"$convert" - closed-in.csv <&- 2>/dev/null || status=$?
if [ "$status" = 1 ] && cmp -s old.csv closed-in.csv && [ -z "$(leftovers .)" ]; then
  pass "standard input closed (<&-) with INPUT -: exit 1, the output not replaced"
else
  fail "standard input closed (<&-) with INPUT -: exit $status"
fi
skip=$((${#record} + 1)) # the first line, so that the rest starts with a record
tail -c +$((skip + 1)) small.adi >rest.adi
"$convert" rest.adi rest-ref.csv 2>/dev/null
status=0
(head -c "$skip" >/dev/null && cat) <small.adi | "$convert" - piped.csv 2>/dev/null || status=$?
if [ "$status" = 0 ] && cmp -s rest-ref.csv piped.csv; then
  pass "input piped from an offset: converted as given"
else
  fail "input piped from an offset: exit $status, $(head -c 200 piped.csv)"
fi
status=0
{ head -c "$skip" >/dev/null && "$convert" - offset.csv 2>/dev/null; } <small.adi || status=$?
if [ "$status" = 0 ] && cmp -s rest-ref.csv offset.csv; then
  pass "input a file descriptor at an offset: converted from there in both passes"
else
  fail "input a file descriptor at an offset: exit $status, $(head -c 200 offset.csv)"
fi

# Memory running out in the middle of a 64 MB value (address space limited
# to 100 MB): exit 1 for want of memory, nothing said about the log's end.
{
  printf '<CALL:4>W1AW <NOTES:%d>' $((1048576 * 64))
  yes "$(head -c 63 /dev/zero | tr '\0' v)" | head -n 1048576
  printf '<EOR>\n'
} >huge.adi
cp old.csv huge.csv
status=0
(ulimit -v 102400 && "$convert" huge.adi huge.csv 2>huge.err) || status=$?
if [ "$status" = 1 ] && grep -q 'out of memory' huge.err && ! grep -q 'ends inside' huge.err &&
  cmp -s old.csv huge.csv && [ -z "$(leftovers .)" ]; then
  pass "memory running out (ulimit -v): exit 1, \"out of memory\", old CSV kept"
else
  fail "memory running out (ulimit -v): exit $status, $(tr '\n' ' ' <huge.err | cut -c1-160)"
fi
rm -f huge.adi

# Four million messages are printed as they arrive, not kept.
yes '<CALL:4>K1AB<BAND:3>20m<BAND:3>40m<EOR>' | head -n 4000000 >duplicates.adi
summary=$(/usr/bin/time -f '%M' -o duplicates.time "$convert" duplicates.adi duplicates.csv 2>&1 |
  awk '/Duplicate field/ { n++ } /^Converted/ { last = $0 } END { print n + 0 "|" last }')
peak_kb=$(tail -n 1 duplicates.time)
if [ "$summary" = "4000000|Converted 4000000 ADIF records to CSV format" ] && [ "$peak_kb" -lt 16384 ]; then
  pass "4,000,000 duplicate-field messages, each printed once: peak $peak_kb KB (under 16 MB)"
else
  fail "4,000,000 duplicate-field messages: $summary, peak $peak_kb KB"
fi
rm -f duplicates.adi duplicates.csv

if [ "$failures" -ne 0 ]; then
  echo "$failures fault check(s) failed" >&2
  exit 1
fi
echo "All fault checks passed."
