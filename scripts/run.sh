#!/usr/bin/env bash
# Installs what is missing, builds the program and starts the window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLMAR_BUILD_TESTS=OFF
cmake --build "$root/build/release"
# Without a display the window would open where nobody can see it and wait
# forever, so say how to reach it instead.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<EOF
Built $root/build/release/app/quillmar, but there is no display to show the
window on (neither DISPLAY nor WAYLAND_DISPLAY is set). To see the window:
  - run ./scripts/run.sh in a terminal of a desktop session, or
  - connect with X forwarding (ssh -X this-machine) and run it there, or
  - start it on a virtual X server, where it stays invisible (for tests and
    screenshots): xvfb-run -a $root/build/release/app/quillmar
EOF
  exit 1
fi
exec "$root/build/release/app/quillmar" "$@"
