#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite three times: a normal
# build, a build with AddressSanitizer and UndefinedBehaviorSanitizer, and a build with
# ThreadSanitizer (the CMake presets normal, sanitize and thread), then runs each fuzz target
# for 30 seconds (tools/fuzz.sh; skipped without clang). Drawing tests need an X display;
# without one the suite runs under Xvfb.
# --quick: the normal build only, and only its unit and net tiers.
# Other arguments go to ctest (e.g. -L unit).
set -euo pipefail
cd "$(dirname "$0")"
variants=(normal sanitize thread)
quick=0
if [ "${1:-}" = "--quick" ]; then
    quick=1
    variants=(normal)
    shift
    set -- -L 'unit|net' "$@"
fi
tools/install-deps.sh
jobs="$(nproc)"
for variant in "${variants[@]}"; do
    echo "== $variant build"
    cmake --preset "$variant" >/dev/null
    cmake --build --preset "$variant" -j"$jobs"
    tools/with-display.sh ctest --preset "$variant" -j"$jobs" "$@"
done
[ "$quick" -eq 1 ] || tools/fuzz.sh 30
