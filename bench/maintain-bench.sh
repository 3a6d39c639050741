#!/usr/bin/env bash
# `quillmar-db maintain` on a folder of sample databases against compacting
# the same databases one by one with `quillmar-db compact`, side by side in
# one run: maintain also backs each file up, syncs, keeps its owner, mode
# and attributes and renames the copy into place, and this shows what that
# costs per file.
#
#   bench/maintain-bench.sh [COUNT]        (default: 40 databases)
#
# The databases are the first COUNT sample files (jet3, jet4, ace, wild)
# that compact without a password, found through QUILLMAR_SHARED (default
# ../shared). ROUNDS (default 3) is how many times each side runs, taking
# turns, on fresh copies; times are medians. BUILD_DIR names a build holding
# quillmar-db (default build-rel, made as a Release build when missing).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-40}
rounds=${ROUNDS:-3}
build=${BUILD_DIR:-$root/build-rel}
tool="$build/tools/quillmar-db/quillmar-db"
corpus=${QUILLMAR_SHARED:-$root/../shared}/corpus
[ -d "$corpus" ] || { echo "maintain-bench: no sample databases at $corpus (set QUILLMAR_SHARED)" >&2; exit 2; }
if [ ! -x "$tool" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUILLMAR_BUILD_TESTS=OFF -DQUILLMAR_BUILD_APP=OFF >/dev/null
  cmake --build "$build" -j2 --target quillmar-db >/dev/null
fi

work=$(mktemp -d /var/tmp/quillmar-maintain-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The samples, each tried once: those compact fails on (a password, a
# format it refuses) would time nothing on either side.
mkdir -p "$work/samples" "$work/probe"
n=0
for file in "$corpus"/jet3/*.mdb "$corpus"/jet4/*.mdb "$corpus"/ace/*.accdb "$corpus"/wild/*.mdb; do
  [ -f "$file" ] || continue
  name=$n-$(basename "$file")
  if "$tool" --no-progress compact "$file" "$work/probe/$name" >/dev/null 2>&1; then
    cp "$file" "$work/samples/$name"
    n=$((n + 1))
  fi
  rm -f "$work/probe/$name"
  [ $n -ge "$count" ] && break
done
[ $n -ge "$count" ] || echo "maintain-bench: only $n databases compact; timing those" >&2
bytes=$(du -sb "$work/samples" | cut -f1)

now() { date +%s.%N; }
compact_each() {
  rm -rf "$work/in" "$work/out" && cp -r "$work/samples" "$work/in" && mkdir "$work/out" && sync
  local start file
  start=$(now)
  for file in "$work"/in/*; do
    "$tool" --no-progress compact "$file" "$work/out/$(basename "$file")" >/dev/null
  done
  sync
  echo "$(now) - $start" | bc
}
maintain_folder() {
  rm -rf "$work/in" "$work/out" && cp -r "$work/samples" "$work/in" && sync
  local start status=0
  start=$(now)
  "$tool" maintain "$work/in" >"$work/maintain.log" || status=$?
  sync
  [ $status -le 1 ] || { cat "$work/maintain.log" >&2; exit 1; }
  echo "$(now) - $start" | bc
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

compact_times=() maintain_times=()
for ((round = 1; round <= rounds; round++)); do
  compact_times+=("$(compact_each)")
  maintain_times+=("$(maintain_folder)")
done
c=$(printf '%s\n' "${compact_times[@]}" | median)
m=$(printf '%s\n' "${maintain_times[@]}" | median)

echo "$n databases, $((bytes / 1048576)) MiB, median of $rounds rounds"
echo
echo "| run | wall time | per database | relative |"
echo "|---|---|---|---|"
printf '| `compact` one by one | %.2f s | %.0f ms | 1.00x |\n' "$c" "$(echo "$c * 1000 / $n" | bc -l)"
printf '| `maintain` on the folder | %.2f s | %.0f ms | %.2fx |\n' "$m" "$(echo "$m * 1000 / $n" | bc -l)" \
  "$(echo "$m / $c" | bc -l)"
