#!/usr/bin/env bash
# Runs a command on the current X display, or under a virtual X server when there is none.
# -noreset: without it the server resets whenever its last client leaves, and a test that
# connects during the reset fails to open the display.
set -euo pipefail
if [ -n "${DISPLAY:-}" ]; then
    exec "$@"
fi
echo "no X display: running under a virtual X server (Xvfb)" >&2
exec xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$@"
