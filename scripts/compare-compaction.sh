#!/usr/bin/env bash
# Compacts every database of the corpus with two quillmar-db builds, in both
# collating orders, and compares the copies byte for byte. A change that
# must not change what the compactor writes (a refactoring) passes when
# every copy is identical and every file that cannot be compacted fails the
# same way (exit status and message) under both builds; what a repair
# reports must agree too.
#
# Usage: scripts/compare-compaction.sh BEFORE AFTER [CORPUS]
#   BEFORE, AFTER  two quillmar-db executables
#   CORPUS         the corpus folder (default: $QUILLMAR_SHARED/corpus, or
#                  ../shared/corpus beside the repository)
# Encrypted ACE files are left out: every copy gets fresh salts. Files of the
# password folder are opened with the password "password". A repair records
# when it ran (MSysCompactError, catalog rows of the tables it adds), so with
# faketime installed both builds run on one frozen clock; without it, a
# repaired copy that differs is listed as TIMES and not counted as a
# difference. Exit status 0 when nothing differs, 1 otherwise.
set -uo pipefail

if [ $# -lt 2 ]; then
  sed -n '2,/^set /p' "$0" | grep '^#' | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
before=$1
after=$2
root=$(cd "$(dirname "$0")/.." && pwd)
corpus=${3:-${QUILLMAR_SHARED:-$root/../shared}/corpus}
for exe in "$before" "$after"; do
  [ -x "$exe" ] || { echo "not an executable: $exe" >&2; exit 2; }
done
[ -d "$corpus" ] || { echo "no corpus at $corpus" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'password' >"$work/password"
clock=()
if command -v faketime >/dev/null 2>&1; then
  clock=(faketime -f '2024-01-02 03:04:05')
  export FAKETIME_DONT_FAKE_MONOTONIC=1
else
  echo "faketime not found: repaired copies are compared only when their repair times agree" >&2
fi

# Runs one build; the copy always goes to the same path, so that messages
# naming it agree. Leaves the copy (if any) in $work/<tag>.copy.
compact_with() {
  local tag=$1 exe=$2 src=$3 order=$4
  shift 4
  rm -f "$work/copy" "$work/$tag.copy"
  "${clock[@]}" "$exe" --no-progress "$@" --sort-order "$order" compact "$src" "$work/copy" >"$work/$tag.out" 2>"$work/$tag.err"
  echo $? >"$work/$tag.rc"
  [ -f "$work/copy" ] && mv "$work/copy" "$work/$tag.copy"
  return 0
}

compared=0 identical=0 failed_alike=0 differ=0 times=0
for folder in jet3 jet4 password wild ace ace-lib; do
  options=()
  [ "$folder" = password ] && options=(--password-file "$work/password")
  for src in "$corpus/$folder"/*.mdb "$corpus/$folder"/*.accdb; do
    [ -f "$src" ] || continue
    for order in source general; do
      compared=$((compared + 1))
      name="$folder/$(basename "$src") ($order)"
      compact_with before "$before" "$src" "$order" "${options[@]}"
      compact_with after "$after" "$src" "$order" "${options[@]}"
      rc_before=$(cat "$work/before.rc")
      rc_after=$(cat "$work/after.rc")
      if [ "$rc_before" != "$rc_after" ]; then
        echo "DIFFERS  $name: exit $rc_before before, $rc_after after"
        differ=$((differ + 1))
      elif [ "$rc_before" != 0 ]; then
        if cmp -s "$work/before.err" "$work/after.err"; then
          failed_alike=$((failed_alike + 1))
        else
          echo "DIFFERS  $name: fails with another message"
          diff "$work/before.err" "$work/after.err" | sed 's/^/         /'
          differ=$((differ + 1))
        fi
      elif ! cmp -s "$work/before.err" "$work/after.err"; then
        echo "DIFFERS  $name: reports another repair"
        diff "$work/before.err" "$work/after.err" | sed 's/^/         /'
        differ=$((differ + 1))
      elif [ -f "$work/before.copy" ] && [ -f "$work/after.copy" ] && cmp -s "$work/before.copy" "$work/after.copy"; then
        identical=$((identical + 1))
      elif [ ${#clock[@]} = 0 ] && grep -q '^Repaired:' "$work/before.err"; then
        echo "TIMES    $name: a repaired copy, which records when it was made"
        times=$((times + 1))
      else
        echo "DIFFERS  $name: $(cmp "$work/before.copy" "$work/after.copy" 2>&1 | head -n 1)"
        differ=$((differ + 1))
      fi
    done
  done
done

echo "compared $compared: $identical identical copies, $failed_alike failed alike, $times repaired at other times, $differ differ"
[ "$differ" = 0 ]
