#!/usr/bin/env bash
# Runs the table of ledgerly-convert's doors (cases.txt): each case runs its
# commands in a fresh folder holding the logs of logs/, then checks the exit
# status, standard output and standard error line for line, the files left
# in the folder and the content of those named, and that every log is still
# byte for byte what it was.
#
#   tests/doors/run.sh PROGRAM [CASE-FILE]
#
# Case file: blocks that start with "== name", then
#   ! shell    prepares the folder (run before the command)
#   $ shell    the command (ledgerly-convert is the program under test)
#   ? N        its exit status (0 when not given)
#   1> text    a line of standard output      2> text    a line of standard error
#              (a last "2> ..." stands for whatever follows)
#   = names    the files besides the logs left in the folder (none when not given)
#   > FILE: t  a line of FILE as left in the folder
set -uo pipefail

program=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
cases=${2:-$here/cases.txt}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/bin"
ln -s "$program" "$scratch/bin/ledgerly-convert"

failures=0
count=0
name="" setup="" command="" status=0 out="" err="" left=""
declare -A contents=()

fail() {
  echo "FAIL: $name: $1"
  failures=$((failures + 1))
}

run_case() {
  [ -n "$name" ] || return 0
  count=$((count + 1))
  local folder=$scratch/case
  rm -rf "$folder" && mkdir "$folder" && cp "$here"/logs/* "$folder"/
  (cd "$folder" && PATH=$scratch/bin:$PATH bash -c "$setup") || fail "setup failed"
  (cd "$folder" && PATH=$scratch/bin:$PATH bash -c "$command" >"$scratch/out" 2>"$scratch/err")
  local got=$?
  [ "$got" = "$status" ] || fail "exit status $got, not $status"
  diff -u <(printf '%s' "$out") "$scratch/out" >"$scratch/diff" || fail "standard output:
$(cat "$scratch/diff")"
  # A last expected line "..." stands for whatever follows (the usage text).
  local lines=$'\n'"$err"
  if [ "${lines%$'\n'...$'\n'}" != "$lines" ]; then
    err=${lines%...$'\n'}
    err=${err#$'\n'}
    head -n "$(printf '%s' "$err" | wc -l)" "$scratch/err" >"$scratch/head"
    mv "$scratch/head" "$scratch/err"
  fi
  diff -u <(printf '%s' "$err") "$scratch/err" >"$scratch/diff" || fail "standard error:
$(cat "$scratch/diff")"
  local log
  for log in "$here"/logs/*; do
    cmp -s "$log" "$folder/${log##*/}" || fail "the log ${log##*/} was changed or removed"
  done
  local extra
  extra=$(cd "$folder" && ls -A | while read -r file; do
    [ -e "$here/logs/$file" ] || printf '%s ' "$file"
  done)
  [ "${extra% }" = "$left" ] || fail "files left: '${extra% }', not '$left'"
  local file
  for file in "${!contents[@]}"; do
    diff -u <(printf '%s' "${contents[$file]}") "$folder/$file" >"$scratch/diff" ||
      fail "$file:
$(cat "$scratch/diff")"
  done
}

while IFS= read -r line || [ -n "$line" ]; do
  case $line in
    "== "*)
      run_case
      name=${line#== } setup="" command="" status=0 out="" err="" left="" contents=() ;;
    "! "*) setup+="${line#! }"$'\n' ;;
    "\$ "*) command=${line#\$ } ;;
    "? "*) status=${line#? } ;;
    "1> "* | "1>") out+="${line:3}"$'\n' ;;
    "2> "* | "2>") err+="${line:3}"$'\n' ;;
    "= "*) left=${line#= } ;;
    "> "*)
      entry=${line#> }
      if [ "${entry%:}" != "$entry" ]; then  # "> FILE:" is an empty line
        file=${entry%:} text=""
      else
        file=${entry%%: *} text=${entry#*: }
      fi
      contents[$file]+="$text"$'\n' ;;
    "" | "#"*) ;;
    *) echo "cases: line not understood: $line"; exit 2 ;;
  esac
done <"$cases"
run_case

echo "$count cases, $failures failures"
[ "$failures" = 0 ]
