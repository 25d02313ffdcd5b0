#!/usr/bin/env bash
# Installs the Debian packages Kelpmoor needs to build, run and test; skips what is there.
set -euo pipefail
packages=(build-essential cmake freeglut3-dev libglu1-mesa-dev libpng-dev zlib1g-dev libgtest-dev libtsan2 xvfb xauth
          libjs-three chromium python3 nodejs clang libclang-rt-14-dev clang-format xdotool
          nginx)  # nginx: only bench_httpd's comparison, which starts its own on a free port
missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
