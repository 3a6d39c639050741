#!/usr/bin/env bash
# Reads every row of every table of the largest sample databases and writes
# them as CSV, once with quillmar-db and once with mdbtools' mdb-export, side
# by side in one run, and prints wall time and peak memory of each.
#
#   bench/read-bench.sh [N_FILES] [ROUNDS]
#
# N_FILES: how many of the largest corpus files (default 3). ROUNDS: each
# measurement is repeated and the fastest kept (default 3). QUILLMAR_DB may
# name a built quillmar-db; otherwise a release build is made in build/bench.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
files_wanted=${1:-3}
rounds=${2:-3}
shared=${QUILLMAR_SHARED:-$root/../shared}
corpus="$shared/corpus"

if [ ! -d "$corpus" ]; then
  echo "read-bench: no sample databases at $corpus" >&2
  exit 2
fi
command -v mdb-export >/dev/null || { echo "read-bench: mdb-export is not installed" >&2; exit 2; }

tool=${QUILLMAR_DB:-}
if [ -z "$tool" ]; then
  build="$root/build/bench"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUILLMAR_BUILD_TESTS=OFF -DQUILLMAR_BUILD_APP=OFF >/dev/null
  cmake --build "$build" --target quillmar-db >/dev/null
  tool="$build/tools/quillmar-db/quillmar-db"
fi

# The largest files, with the password the password samples use.
mapfile -t files < <(find "$corpus" -name '*.mdb' -printf '%s %p\n' | sort -rn | head -n "$files_wanted" | cut -d' ' -f2-)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One script per reader and file: export every table to a file in $work.
for f in "${files[@]}"; do
  base=$(basename "$f" .mdb)
  pw_args=()
  if [[ "$f" == */password/* ]]; then
    printf 'password\n' > "$work/pw"
    pw_args=(--password-file "$work/pw")
  fi
  mdb-tables -1 -S -- "$f" > "$work/$base.tables"
  {
    echo 'set -e'
    while IFS= read -r t; do
      q=$(printf '%q' "$t")
      echo "\"$tool\" ${pw_args[*]:-} export -- \"$f\" $q > \"$work/$base.ours.csv\""
    done < "$work/$base.tables"
  } > "$work/$base.ours.sh"
  {
    echo 'set -e'
    while IFS= read -r t; do
      q=$(printf '%q' "$t")
      echo "mdb-export -T '%Y-%m-%d %H:%M:%S' -b hex -- \"$f\" $q > \"$work/$base.mdb.csv\""
    done < "$work/$base.tables"
  } > "$work/$base.mdb.sh"
  # The cost of starting one process per table, which both tools pay.
  {
    echo 'set -e'
    while IFS= read -r t; do echo "/bin/true > \"$work/$base.none.csv\""; done < "$work/$base.tables"
  } > "$work/$base.none.sh"
done

# Runs a script ROUNDS times; prints "wall_s cpu_s peak_kib": the fastest
# wall time, the least CPU time (user + system) and the highest peak memory.
# GNU time gives the peak resident size of the largest process in the run.
measure() {
  local script=$1 best="" best_cpu="" best_kib=0
  for _ in $(seq "$rounds"); do
    if [ -x /usr/bin/time ]; then
      /usr/bin/time -f '%e %U %S %M' -o "$work/time" bash "$script" 2>/dev/null
    else
      python3 - "$script" > "$work/time" <<'PY'
import resource, subprocess, sys, time
t = time.monotonic()
subprocess.run(["bash", sys.argv[1]], check=True, stderr=subprocess.DEVNULL)
r = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"{time.monotonic() - t:.2f} {r.ru_utime:.2f} {r.ru_stime:.2f} {r.ru_maxrss}")
PY
    fi
    read -r secs user sys kib < "$work/time"
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN{print u+s}')
    if [ -z "$best" ] || awk -v a="$secs" -v b="$best" 'BEGIN{exit !(a<b)}'; then best=$secs; fi
    if [ -z "$best_cpu" ] || awk -v a="$cpu" -v b="$best_cpu" 'BEGIN{exit !(a<b)}'; then best_cpu=$cpu; fi
    [ "$kib" -gt "$best_kib" ] && best_kib=$kib
  done
  echo "$best $best_cpu $best_kib"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (a > 0) printf "%.1fx", b/a; else print "-" }'; }
mib() { awk -v k="$1" 'BEGIN{printf "%.1f", k/1024}'; }

printf '| %-26s | %5s | %6s | %14s | %14s | %7s | %14s | %14s | %7s | %8s | %8s |\n' file MiB tables \
  "ours wall s" "mdb wall s" "wall" "ours cpu s" "mdb cpu s" "cpu" "ours MiB" "mdb MiB"
printf '|%s|%s|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n' -----------------------------: ------: -------: \
  ----------------: ----------------: ---------: ----------------: ----------------: ---------: ----------: ----------:
tw_ours=0; tw_mdb=0; tc_ours=0; tc_mdb=0; tw_none=0
for f in "${files[@]}"; do
  base=$(basename "$f" .mdb)
  read -r ours_s ours_cpu ours_kib < <(measure "$work/$base.ours.sh")
  read -r mdb_s mdb_cpu mdb_kib < <(measure "$work/$base.mdb.sh")
  read -r none_s _ _ < <(measure "$work/$base.none.sh")
  tw_none=$(awk -v a="$tw_none" -v b="$none_s" 'BEGIN{print a+b}')
  tables=$(wc -l < "$work/$base.tables")
  size=$(awk -v b="$(stat -c %s "$f")" 'BEGIN{printf "%.1f", b/1048576}')
  printf '| %-26s | %5s | %6s | %14s | %14s | %7s | %14s | %14s | %7s | %8s | %8s |\n' "$base.mdb" "$size" "$tables" \
    "$ours_s" "$mdb_s" "$(ratio "$ours_s" "$mdb_s")" "$ours_cpu" "$mdb_cpu" "$(ratio "$ours_cpu" "$mdb_cpu")" \
    "$(mib "$ours_kib")" "$(mib "$mdb_kib")"
  tw_ours=$(awk -v a="$tw_ours" -v b="$ours_s" 'BEGIN{print a+b}')
  tw_mdb=$(awk -v a="$tw_mdb" -v b="$mdb_s" 'BEGIN{print a+b}')
  tc_ours=$(awk -v a="$tc_ours" -v b="$ours_cpu" 'BEGIN{print a+b}')
  tc_mdb=$(awk -v a="$tc_mdb" -v b="$mdb_cpu" 'BEGIN{print a+b}')
done
echo
echo "total wall: ours $tw_ours s, mdb-export $tw_mdb s ($(ratio "$tw_ours" "$tw_mdb") faster);" \
  "total cpu: ours $tc_ours s, mdb-export $tc_mdb s ($(ratio "$tc_ours" "$tc_mdb") faster)"
net_ours=$(awk -v a="$tw_ours" -v b="$tw_none" 'BEGIN{print (a-b > 0.001 ? a-b : 0.001)}')
net_mdb=$(awk -v a="$tw_mdb" -v b="$tw_none" 'BEGIN{print (a-b > 0.001 ? a-b : 0.001)}')
echo "starting $tw_none s worth of empty processes (/bin/true, one per table) aside:" \
  "ours $net_ours s, mdb-export $net_mdb s ($(ratio "$net_ours" "$net_mdb") faster)"
echo "(one process per table for each tool; best of $rounds rounds; cpu = user + system;"
echo " memory = peak resident size of the largest process)"
