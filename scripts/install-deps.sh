#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# As root it runs apt-get; otherwise it prints the apt-get line and stops.
set -euo pipefail

# fonts-liberation: Liberation Sans has the widths the window's captions were
# laid out for; without it the captions fall back to the wider DejaVu Sans.
# libssl-dev: libcrypto's AES, SHA and random bytes for encrypted ACE files.
# librsvg2-bin renders the menu icons; desktop-file-utils, appstream and
# man-db/groff-base check the desktop files and manual pages; dpkg-dev's
# dpkg-shlibdeps finds the Debian package's dependencies.
packages=(
  build-essential cmake ninja-build pkg-config ccache
  libssl-dev
  qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  mdbtools nodejs
  xvfb xauth fonts-dejavu-core fonts-liberation
  librsvg2-bin desktop-file-utils appstream man-db groff-base dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
# npm ships inside some nodejs builds; ask Debian for it only when absent.
if ! command -v npm >/dev/null 2>&1; then
  missing+=(npm)
fi
# The reader-comparison tests are Python scripts; any python3 on the PATH will do.
if ! command -v python3 >/dev/null 2>&1; then
  missing+=(python3)
fi

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

line="apt-get install -y ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  echo "  apt-get update && $line" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}"
