#!/usr/bin/env bash
# Formats each manual page the way lintian does, and once more with all of
# groff's warnings on, and fails on any warning either prints. Usage: man_warnings_test.sh PAGE...
set -uo pipefail
if ! command -v man >/dev/null 2>&1; then
  echo "SKIPPED: man is not installed (Debian package man-db)"
  exit 77
fi
status=0
for page in "$@"; do
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
             man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null
             groff -man -ww -z -Tutf8 "$page" 2>&1)
  if [ -n "$warnings" ]; then
    echo "$page:"
    echo "$warnings"
    status=1
  else
    echo "$page: no warnings"
  fi
done
exit $status
