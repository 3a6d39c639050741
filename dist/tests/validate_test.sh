#!/usr/bin/env bash
# Runs one validator on a file and fails on anything it reports.
# Usage: validate_test.sh TOOL DEBIAN_PACKAGE ARGUMENTS...
# Exits 77 (skipped) when TOOL is not installed.
set -uo pipefail
tool=$1 package=$2
shift 2
if ! command -v "$tool" >/dev/null 2>&1; then
  echo "SKIPPED: $tool is not installed (Debian package $package; scripts/install-deps.sh installs it)"
  exit 77
fi
"$tool" "$@"
