#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each for the given number of
# seconds (default 30) on its seed corpus in tests/fuzz/corpus. What a run learns is kept in
# build-fuzz/corpus/, never in the source tree; a finding stops the run with its input saved
# in build-fuzz/ (crash-*, leak-*, timeout-*) and this script fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
if ! command -v clang++ >/dev/null; then
    echo "fuzz: clang++ not found, fuzz targets skipped"
    exit 0
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)"
for target in commands http recording; do
    work="build-fuzz/corpus/$target"
    mkdir -p "$work"
    echo "== fuzz_$target for ${seconds}s"
    log="build-fuzz/fuzz_$target.log"
    max_len=4096
    [ "$target" = recording ] && max_len=16384  # a key frame of an empty floor alone is 3 KB
    status=0
    (cd build-fuzz && UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "tests/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
        -print_final_stats=1 "corpus/$target" "../tests/fuzz/corpus/$target") >"$log" 2>&1 ||
        status=$?
    grep -E '^(#[0-9]+.*DONE|Done|stat::(number_of_executed|average_exec|peak_rss))' "$log" ||
        true
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$log"
        echo "fuzz_$target: finding (status $status), see $log"
        exit 1
    fi
done
