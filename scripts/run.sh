#!/usr/bin/env bash
# Installs what is missing, builds the program and starts the window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLMAR_BUILD_TESTS=OFF
cmake --build "$root/build/release"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found; starting the window on a virtual X server (xvfb-run)." >&2
  exec xvfb-run -a "$root/build/release/app/quillmar" "$@"
fi
exec "$root/build/release/app/quillmar" "$@"
