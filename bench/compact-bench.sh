#!/usr/bin/env bash
# Compaction against a plain copy, side by side in one run: builds a Jet 4
# database of about SIZE MiB (three tables, indexes on text and numbers, memo
# and OLE values, a third of the rows deleted the way Access deletes them),
# then times `cp` + `sync` of it and `quillmar-db compact` + `sync` of it,
# and prints wall time, peak memory and memory per row: overall ((peak -
# the peak for an empty database) / live rows) and, from the second size on,
# per live row added since the previous size, which shows whether memory
# grows with the file.
#
#   bench/compact-bench.sh [SIZE_MIB ...]        (default: 1024)
#
# ROUNDS (default 3) is how many times the copy and the compaction each run
# per size, taking turns; times are medians.
#
# Each round also compacts the same file as an ACE database (Access 2007,
# version byte 2, "Standard ACE DB"): ACE keeps Jet 4's page layout, so
# the twin holds the same pages under an ACE header and shows whether the
# ACE path costs more per megabyte than the Jet 4 one. And as an encrypted
# ACE database (Access 2010's default agile encryption: AES-256, SHA-512),
# whose pages are decrypted as they are read and encrypted as they are
# written: the cost of the encryption beside the plain ACE twin.
#
# Several sizes show whether memory grows with the file. BUILD_DIR names a
# build holding quillmar-db and quillmar-bench-gen (default build-rel, made
# as a Release build when missing). WORK names the scratch folder (needs
# about 3x the largest size free; default a new folder under /var/tmp).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sizes=("$@")
rounds=${ROUNDS:-3}
[ ${#sizes[@]} -eq 0 ] && sizes=(1024)
build=${BUILD_DIR:-$root/build-rel}
tool="$build/tools/quillmar-db/quillmar-db"
gen="$build/engine/builder/quillmar-bench-gen"
encrypt="$build/engine/builder/quillmar-encrypt"
# BASE_BUILD_DIR: another build whose compaction takes its turn in every
# round as well (say, the build before a change), summed up below the table.
base_tool=${BASE_BUILD_DIR:+$BASE_BUILD_DIR/tools/quillmar-db/quillmar-db}

[ -x /usr/bin/time ] || { echo "compact-bench: /usr/bin/time (GNU time) is not installed" >&2; exit 2; }
if [ ! -x "$tool" ] || [ ! -x "$gen" ] || [ ! -x "$encrypt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUILLMAR_BUILD_TESTS=OFF -DQUILLMAR_BUILD_APP=OFF >/dev/null
  cmake --build "$build" -j2 --target quillmar-db quillmar-bench-gen quillmar-encrypt >/dev/null
fi

work=${WORK:-$(mktemp -d /var/tmp/quillmar-compact-bench.XXXXXX)}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
printf 'bench password' > "$work/password"

# Runs a command under GNU time; sets SECONDS_TAKEN, CPU_SECONDS (user +
# system: what the command itself spent, apart from waiting for a core on a
# shared machine) and PEAK_KIB.
measure() {
  /usr/bin/time -v -o "$work/time.log" "$@" > "$work/cmd.log" 2>&1 || {
    echo "compact-bench: failed: $*" >&2
    cat "$work/cmd.log" >&2
    exit 1
  }
  SECONDS_TAKEN=$(awk -F': ' '/Elapsed \(wall clock\)/ {
      n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/time.log")
  PEAK_KIB=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.log")
  CPU_SECONDS=$(awk -F': ' '/User time|System time/ {s += $2} END {print s}' "$work/time.log")
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Baseline: compacting a database with no user rows.
"$gen" "$work/empty.mdb" --megabytes 0 > /dev/null
measure "$tool" compact "$work/empty.mdb" "$work/empty-compacted.mdb"
baseline_kib=$PEAK_KIB

echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); baseline peak ${baseline_kib} KiB; $rounds rounds, medians"
printf '| size MiB | rows | live rows | generate s | generate peak MiB | cp+sync s | compact+sync s | ratio | ACE compact+sync s | ACE / Jet 4 | encrypted ACE compact+sync s | encrypted / ACE | cp CPU s | compact CPU s | cp peak MiB | compact peak MiB | compacted MiB | bytes per live row | bytes per added live row |\n'
printf '|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n'
prev_kib=
prev_live=
rounds_seen=
for size in "${sizes[@]}"; do
  src="$work/bench-$size.mdb"
  measure "$gen" "$src" --megabytes "$size" --deleted-percent 33
  gen_s=$SECONDS_TAKEN
  gen_kib=$PEAK_KIB
  read -r _ rows _ _ _ live _ < "$work/cmd.log"
  bytes=$(stat -c %s "$src")
  ace="$work/bench-$size.accdb"
  cp "$src" "$ace"
  printf 'Standard ACE DB' | dd of="$ace" bs=1 seek=4 conv=notrunc status=none
  printf '\002' | dd of="$ace" bs=1 seek=20 conv=notrunc status=none
  encrypted="$work/bench-$size-encrypted.accdb"
  "$encrypt" "$src" "$encrypted" agile "$work/password"
  sync
  cat "$src" > /dev/null  # both runs start from a warm page cache

  # The copy and the compaction take turns, ROUNDS times; each figure is the
  # median of its rounds (peaks: the largest), which steadies a shared disk.
  cp_runs=(); cp_cpus=(); compact_runs=(); compact_cpus=(); cp_kib=0; compact_kib=0; ace_runs=(); encrypted_runs=()
  base_runs=(); base_cpus=(); base_kib=0
  for ((round = 0; round < rounds; ++round)); do
    measure sh -c "cp '$src' '$work/copy.mdb' && sync"
    cp_runs+=("$SECONDS_TAKEN"); cp_cpus+=("$CPU_SECONDS")
    [ "$PEAK_KIB" -gt "$cp_kib" ] && cp_kib=$PEAK_KIB
    rm -f "$work/copy.mdb"
    sync

    measure sh -c "'$tool' compact '$src' '$work/compacted.mdb' && sync"
    compact_runs+=("$SECONDS_TAKEN"); compact_cpus+=("$CPU_SECONDS")
    [ "$PEAK_KIB" -gt "$compact_kib" ] && compact_kib=$PEAK_KIB
    compacted=$(stat -c %s "$work/compacted.mdb")
    rm -f "$work/compacted.mdb"
    sync

    measure sh -c "'$tool' compact '$ace' '$work/compacted.accdb' && sync"
    ace_runs+=("$SECONDS_TAKEN")
    rm -f "$work/compacted.accdb"
    sync

    measure sh -c "'$tool' compact --password-file '$work/password' '$encrypted' '$work/compacted.accdb' && sync"
    encrypted_runs+=("$SECONDS_TAKEN")
    rm -f "$work/compacted.accdb"
    sync

    if [ -n "$base_tool" ]; then
      measure sh -c "'$base_tool' compact '$src' '$work/compacted.mdb' && sync"
      base_runs+=("$SECONDS_TAKEN"); base_cpus+=("$CPU_SECONDS")
      [ "$PEAK_KIB" -gt "$base_kib" ] && base_kib=$PEAK_KIB
      rm -f "$work/compacted.mdb"
      sync
    fi
  done
  rm -f "$src" "$ace" "$encrypted"
  cp_s=$(median "${cp_runs[@]}"); cp_cpu=$(median "${cp_cpus[@]}")
  ace_s=$(median "${ace_runs[@]}")
  encrypted_s=$(median "${encrypted_runs[@]}")
  compact_s=$(median "${compact_runs[@]}"); compact_cpu=$(median "${compact_cpus[@]}")

  awk -v size="$size" -v rows="$rows" -v live="$live" -v g="$gen_s" -v gk="$gen_kib" -v c="$cp_s" -v k="$compact_s" -v a="$ace_s" -v e="$encrypted_s" -v cc="$cp_cpu" -v kc="$compact_cpu" \
      -v cpk="$cp_kib" -v kk="$compact_kib" -v base="$baseline_kib" -v out="$compacted" -v b="$bytes" \
      -v pk="$prev_kib" -v pl="$prev_live" 'BEGIN {
    added = (pl != "" && live > pl) ? sprintf("%.0f", (kk - pk) * 1024 / (live - pl)) : "-"
    printf "| %.0f | %d | %d | %.1f | %.1f | %.1f | %.1f | %.2fx | %.1f | %.2fx | %.1f | %.2fx | %.1f | %.1f | %.1f | %.1f | %.0f | %.0f | %s |\n",
      b / 1048576, rows, live, g, gk / 1024, c, k, (c > 0 ? k / c : 0), a, (k > 0 ? a / k : 0), e, (a > 0 ? e / a : 0), cc, kc, cpk / 1024, kk / 1024, out / 1048576,
      (live > 0 ? (kk - base) * 1024 / live : 0), added }'
  prev_kib=$compact_kib
  prev_live=$live
  rounds_seen+="$size MiB, seconds per round: cp+sync ${cp_runs[*]}; compact+sync ${compact_runs[*]}; ACE compact+sync ${ace_runs[*]}; encrypted ACE compact+sync ${encrypted_runs[*]}"$'\n'
  if [ -n "$base_tool" ]; then
    rounds_seen+="$size MiB, base build: compact+sync ${base_runs[*]} (median $(median "${base_runs[@]}") s), CPU median $(median "${base_cpus[@]}") s, peak $((base_kib / 1024)) MiB"$'\n'
  fi
done
printf '\n%s' "$rounds_seen"
