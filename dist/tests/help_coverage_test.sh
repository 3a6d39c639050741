#!/usr/bin/env bash
# The manual page and the bash completion must keep up with `quillmar-db
# --help`: every command and option it lists, its exit statuses, its error
# format and the file name extensions it names appear in the manual, and the
# completion offers every command and option, and files with those
# extensions (in any case) where it offers databases.
# Usage: help_coverage_test.sh QUILLMAR_DB MANUAL_PAGE COMPLETION
set -uo pipefail
tool=$1 page=$2 completion=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

help=$("$tool" --help) || { echo "FAIL: $tool --help"; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
commands=$(sed -n '/^Commands:/,/^$/p' <<<"$help" | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p')
options=$(sed -n '/^Options.*:$/,/^$/p' <<<"$help" | grep -oE '(^|[ ,])--?[A-Za-z][A-Za-z-]*' | tr -d ' ,')
[ -n "$commands" ] && [ -n "$options" ] || { echo "FAIL: no commands or options found in --help"; exit 1; }

if command -v man >/dev/null 2>&1; then
  manual=$(MANWIDTH=1000 man -l "$page" 2>/dev/null | col -bx)
else
  # Without man, read the source with roff's escaped hyphens undone.
  manual=$(sed 's/\\-/-/g' "$page")
fi
for word in $commands $options; do
  grep -qE -- "(^|[^A-Za-z-])$word([^A-Za-z-]|$)" <<<"$manual" || fail "the manual lacks '$word'"
done
for status in $(grep -oE '(^|, |: )[0-9] ' <<<"$(sed -n '/^Exit status:/,/^Errors/p' <<<"$help")" | tr -dc '0-9\n'); do
  sed -n '/^EXIT STATUS/,/^[A-Z]/p' <<<"$manual" | grep -qE "^ +$status +" ||
    fail "the manual's EXIT STATUS lacks $status"
done
format=$(sed -n 's/^Errors go to standard error as: //p' <<<"$help")
[ -n "$format" ] || fail "--help no longer shows the error format"
grep -qF -- "$format" <<<"$manual" || fail "the manual lacks the error format '$format'"
# "(.mdb, Access 97-2003)": the extensions of the formats it reads.
extensions=$(grep -oE '\(\.[a-z]+,' <<<"$help" | tr -d '(,' | sort -u)
[ -n "$extensions" ] || fail "--help names no file extension"
for extension in $extensions; do
  grep -qF -- "$extension" <<<"$manual" || fail "the manual lacks '$extension'"
done

# The completion, as bash runs it on <Tab>.
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _quillmar_db
           printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@"
}
offered=$(complete_words quillmar-db "")
for word in $commands; do
  grep -qx -- "$word" <<<"$offered" || fail "completion does not offer the command '$word'"
done
offered=$(complete_words quillmar-db info x.mdb -)
for word in $options; do
  grep -qx -- "$word" <<<"$offered" || fail "completion does not offer the option '$word'"
done
offered=$(complete_words quillmar-db export -- -)
[ -z "$offered" ] || fail "completion offers options after '--': $offered"

# Databases by extension, beside a folder and a file of another kind.
mkdir -p "$scratch/files/sub" && touch "$scratch/files/notes.txt"
expected="$scratch/files/sub"
for extension in $extensions; do
  touch "$scratch/files/a$extension" "$scratch/files/B${extension^^}"
  expected+=$'\n'"$scratch/files/a$extension"$'\n'"$scratch/files/B${extension^^}"
done
expected=$(sort <<<"$expected")
for command in info check export compact maintain; do
  offered=$(complete_words quillmar-db "$command" "$scratch/files/" | sort)
  [ "$offered" = "$expected" ] || fail "completion of databases for '$command': got [$offered], want [$expected]"
done

# Table names for export, from a sample database when one is at hand.
shared=${QUILLMAR_SHARED:-$(dirname "$0")/../../../shared}
user_tables() { "$tool" info "$1" 2>/dev/null | sed -nE 's/^  (.*[^ ]) +[0-9]+  user$/\1/p' | sort; }
sample=""
for candidate in "$shared"/corpus/jet4/*.mdb "$shared"/corpus/jet3/*.mdb; do
  [ -f "$candidate" ] && [ -n "$(user_tables "$candidate")" ] && { sample=$candidate; break; }
done
if [ -n "$sample" ]; then
  # A copy in a folder with a blank, typed with backslashes as <Tab> leaves it.
  mkdir "$scratch/a folder" && cp "$sample" "$scratch/a folder/the db.mdb"
  typed=$(printf '%q' "$scratch/a folder/the db.mdb")
  expected=$(user_tables "$sample")
  offered=$(PATH="$(dirname "$tool"):$PATH" complete_words quillmar-db --no-progress export "$typed" "" |
            while IFS= read -r t; do eval "printf '%s\n' $t"; done | sort)
  [ -n "$expected" ] && [ "$offered" = "$expected" ] ||
    fail "completion's tables of $sample: got [$offered], want [$expected]"
  offered=$(complete_words quillmar-db check "$(printf '%q' "$scratch/a folder/")")
  [ "$offered" = "$scratch/a folder/the db.mdb" ] || fail "completion of a folder with a blank: [$offered]"
else
  echo "table completion: SKIPPED (no sample databases in $shared/corpus)"
fi

[ $failures -eq 0 ] && echo "manual and completion cover --help: $(wc -w <<<"$commands $options") words"
exit $((failures > 0))
