#!/usr/bin/env bash
# Runs quillmar-bench-gen the ways a person might get it wrong: help, bad
# options, no output, an output that exists; then once for real on a small
# file. Usage: bench_generator_test.sh PATH/TO/quillmar-bench-gen
set -u
gen=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
passed=0
failed=0

# expect NAME STATUS STREAM PATTERN -- ARGS...: runs the generator and checks
# its exit status and that STREAM (out or err) matches PATTERN.
expect() {
  local name=$1 status=$2 stream=$3 pattern=$4
  shift 5
  "$gen" "$@" >out.txt 2>err.txt
  local got=$?
  local text
  text=$(cat "$stream.txt")
  if [ "$got" -eq "$status" ] && grep -qE -- "$pattern" <<<"$text"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $name: exit $got (wanted $status); stdout: $(cat out.txt) stderr: $(cat err.txt)"
  fi
}

expect help 0 out '^usage: quillmar-bench-gen OUT.mdb' -- --help
expect short-help 0 out '--megabytes N' -- -h
expect help-after-path 0 out '^usage:' -- new.mdb --megabytes 1 --help
if ls -A | grep -qvE '^(out|err)\.txt$'; then
  failed=$((failed + 1))
  echo "FAIL help made a file: $(ls -A)"
else
  passed=$((passed + 1))
fi
expect no-output 2 err 'no output file given' --
expect unknown-option 2 err "unknown option '--size'" -- new.mdb --size 5
expect missing-value 2 err "'--seed' needs a value" -- new.mdb --seed
expect not-a-number 2 err "--megabytes takes a whole number" -- new.mdb --megabytes lots
expect negative 2 err "--megabytes takes a whole number" -- new.mdb --megabytes=-1
expect percent-range 2 err "--deleted-percent takes a whole number from 0 to 100" -- new.mdb --deleted-percent 101
expect two-outputs 2 err 'more than one output file' -- a.mdb b.mdb
if [ -e new.mdb ] || [ -e a.mdb ]; then
  failed=$((failed + 1))
  echo "FAIL a usage error made a file"
else
  passed=$((passed + 1))
fi

printf 'keep me' >taken.mdb
expect existing-output 1 err 'error 3204' -- taken.mdb --megabytes 1
if [ "$(cat taken.mdb)" = "keep me" ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL taken.mdb was changed"; fi

expect small-run 0 out '^rows [0-9]+ deleted [0-9]+ live [0-9]+ pages [0-9]+ bytes [0-9]+' -- small.mdb --megabytes=1 --deleted-percent 50 --seed 7
expect empty-tables 0 out '^rows 0 deleted 0 live 0' -- empty.mdb --megabytes 0
size=$(stat -c %s small.mdb 2>/dev/null || echo 0)
if [ "$size" -ge 1048576 ] && [ $((size % 4096)) -eq 0 ]; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
  echo "FAIL small.mdb has $size bytes"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
