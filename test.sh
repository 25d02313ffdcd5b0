#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite three times: a normal
# build, a build with AddressSanitizer and UndefinedBehaviorSanitizer, and a build with
# ThreadSanitizer, then runs each fuzz target for 30 seconds (tools/fuzz.sh; skipped without
# clang). Drawing tests need an X display; without one the suite runs under Xvfb.
# Extra arguments go to ctest (e.g. -L unit).
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
jobs="$(nproc)"
for variant in normal sanitize thread; do
    case "$variant" in
    normal) dir=build; flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELPMOOR_SANITIZE=OFF -DKELPMOOR_TSAN=OFF) ;;
    sanitize) dir=build-sanitize; flags=(-DCMAKE_BUILD_TYPE=Debug -DKELPMOOR_SANITIZE=ON -DKELPMOOR_TSAN=OFF) ;;
    thread) dir=build-tsan; flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELPMOOR_SANITIZE=OFF -DKELPMOOR_TSAN=ON) ;;
    esac
    echo "== $variant build ($dir)"
    cmake -S . -B "$dir" "${flags[@]}" >/dev/null
    cmake --build "$dir" -j"$jobs"
    tools/with-display.sh ctest --test-dir "$dir" -j"$jobs" --output-on-failure "$@"
done
tools/fuzz.sh 30
