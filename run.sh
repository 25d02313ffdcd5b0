#!/usr/bin/env bash
# Installs what is missing, builds Kelpmoor and runs it (under Xvfb when there is no display).
# Arguments go to kelpmoor, e.g. ./run.sh -js "viewer.js;three.js".
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target kelpmoor -j"$(nproc)"
echo "Kelpmoor: watch the field in a browser at http://127.0.0.1:${KELPMOOR_HTTP_PORT:-2280}/" >&2
exec tools/with-display.sh build/kelpmoor "$@"
