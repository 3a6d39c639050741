#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/test"
"$root/scripts/install-deps.sh"

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DQUILLMAR_SANITIZE=ON -DQUILLMAR_WERROR=ON "${launcher[@]}"
cmake --build "$build"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"

# The fuzz target: a separate clang build of the engine with coverage for
# libFuzzer, run briefly on seeds made from the sample databases. A crash,
# sanitizer report or hang fails this script; the input that caused it is
# left in build/fuzz/ as crash-*, leak-* or timeout-*.
# Warnings are enforced by the gcc build above; clang's own set only informs here.
fuzz="$root/build/fuzz"
if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: SKIPPED (clang++ is not installed)"
  exit 0
fi
CXX=clang++ cmake -S "$root" -B "$fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLMAR_BUILD_FUZZERS=ON -DQUILLMAR_BUILD_TESTS=OFF -DQUILLMAR_BUILD_APP=OFF -DQUILLMAR_WERROR=OFF \
  "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer" "${launcher[@]}" >/dev/null
cmake --build "$fuzz" --target open_fuzzer
mkdir -p "$fuzz/seeds" "$fuzz/found"
shared=${QUILLMAR_SHARED:-$root/../shared}
if [ -d "$shared/corpus" ]; then
  find "$shared/corpus" -name '*.mdb' -size -300k -exec cp -f {} "$fuzz/seeds/" \;
else
  echo "fuzz: no sample databases at $shared/corpus; starting from empty input"
fi
"$fuzz/engine/fuzz/open_fuzzer" -max_total_time="${QUILLMAR_FUZZ_SECONDS:-30}" -timeout=20 \
  -rss_limit_mb=2048 -max_len=409600 -print_final_stats=1 -artifact_prefix="$fuzz/" \
  "$fuzz/found" "$fuzz/seeds" > "$fuzz/last-run.log" 2>&1 || {
  tail -n 60 "$fuzz/last-run.log"
  echo "fuzz: FAILED (log: $fuzz/last-run.log)"
  exit 1
}
echo "fuzz: passed, $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$fuzz/last-run.log")"
