#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/test"
"$root/scripts/install-deps.sh"

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLMAR_SANITIZE=ON -DQUILLMAR_WERROR=ON "${launcher[@]}"
cmake --build "$build"

# jetdiff installs its npm reader on first use; doing that once here keeps
# the parallel tests from racing to install it at the same time.
shared=${QUILLMAR_SHARED:-$root/../shared}
sample=$(find "$shared/corpus/jet4" -name '*.mdb' -size -200k 2>/dev/null | head -n 1 || true)
if [ -x "$shared/tools/jetdiff" ] && [ -n "$sample" ]; then
  "$shared/tools/jetdiff" "$sample" "$sample" >/dev/null 2>&1 || echo "jetdiff: could not run it once before the tests"
fi

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"

# The fuzz targets: a separate clang build of the engine with coverage for
# libFuzzer, each run briefly on seeds made from the sample databases:
# open_fuzzer reads and checks the input, compact_fuzzer compacts (and so
# repairs) it in memory. A crash, sanitizer report, hang or broken copy
# fails this script; the input that caused it is left in build/fuzz/ as
# crash-*, leak-* or timeout-* (prefixed with the target's name).
# The mutations start from a fixed seed (QUILLMAR_FUZZ_SEED); coverage varies
# a little with the compaction's threads, so runs part ways after their first
# inputs. Searching for new inputs is for the longer runs the README
# describes (QUILLMAR_FUZZ_SECONDS sets the length).
# Warnings are enforced by the gcc build above; clang's own set only informs here.
fuzz="$root/build/fuzz"
if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: SKIPPED (clang++ is not installed)"
  exit 0
fi
CXX=clang++ cmake -S "$root" -B "$fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLMAR_BUILD_FUZZERS=ON -DQUILLMAR_BUILD_TESTS=OFF -DQUILLMAR_BUILD_APP=OFF -DQUILLMAR_WERROR=OFF \
  "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer" "${launcher[@]}" >/dev/null
cmake --build "$fuzz" --target open_fuzzer compact_fuzzer
mkdir -p "$fuzz/seeds"
if [ -d "$shared/corpus" ]; then
  find "$shared/corpus" -name '*.mdb' -size -300k -exec cp -f {} "$fuzz/seeds/" \;
  # ACE files start at about 300 KB (their system tables); the smaller ones.
  find "$shared/corpus" -name '*.accdb' -size -420k -exec cp -f {} "$fuzz/seeds/" \;
  # Encrypted samples go in with their passwords (the folder's README table)
  # on a first line the targets take off, so mutations reach their pages.
  encrypted="$shared/corpus/ace-encrypted"
  if [ -f "$encrypted/README.md" ]; then
    awk -F'|' '$2 ~ /\.accdb/ { gsub(/^ +| +$/, "", $2); gsub(/^ +| +$/, "", $4); print $2 "\t" $4 }' \
      "$encrypted/README.md" | while IFS=$'\t' read -r name password; do
      [ -f "$encrypted/$name" ] || continue
      [ "$(stat -c %s "$encrypted/$name")" -le 430000 ] || continue
      { printf 'PASSWORD:%s\n' "$password"; cat "$encrypted/$name"; } > "$fuzz/seeds/with-password-$name"
    done
  fi
else
  echo "fuzz: no sample databases at $shared/corpus; starting from empty input"
fi
for target in open_fuzzer compact_fuzzer; do
  mkdir -p "$fuzz/found-$target"
  log="$fuzz/last-run-$target.log"
  "$fuzz/engine/fuzz/$target" -seed="${QUILLMAR_FUZZ_SEED:-1}" -max_total_time="${QUILLMAR_FUZZ_SECONDS:-30}" -timeout=20 \
    -rss_limit_mb=2048 -max_len=430080 -print_final_stats=1 -artifact_prefix="$fuzz/$target-" \
    "$fuzz/found-$target" "$fuzz/seeds" > "$log" 2>&1 || {
    tail -n 60 "$log"
    echo "fuzz: $target FAILED (log: $log)"
    exit 1
  }
  echo "fuzz: $target passed, $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$log")"
done
