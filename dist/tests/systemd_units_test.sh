#!/usr/bin/env bash
# The systemd service and timer of nightly maintenance, as installed for
# examples: systemd-analyze verifies both (the service pointed at this
# build and a scratch share), the timer fires at 03:00, and the service's
# command line is one quillmar-db accepts.
# Usage: systemd_units_test.sh QUILLMAR_DB SERVICE TIMER
# Exits 77 (skipped) when systemd-analyze is missing or cannot run here.
set -uo pipefail
tool=$1 service=$2 timer=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

share=/srv/samba/office
grep -q "^ExecStart=.*/quillmar-db maintain .*$share\$" "$service" || fail "the service does not maintain $share"
grep -qx "User=office" "$service" && grep -qx "Group=office" "$service" || fail "the service does not run as the share's owner"
grep -qx "Type=oneshot" "$service" || fail "the service is not Type=oneshot"
grep -qx "OnCalendar=\*-\*-\* 03:00:00" "$timer" || fail "the timer does not fire at 03:00"
grep -qx "WantedBy=timers.target" "$timer" || fail "the timer is not wanted by timers.target"

# The service's command, with this build and a scratch share, tried dry.
mkdir -p "$scratch/share" "$scratch/units"
command=$(sed -n 's/^ExecStart=//p' "$service")
set -- $command
shift
"$tool" "$@" --dry-run >/dev/null 2>"$scratch/err" ||
  { grep -q "Could not find file '$share'" "$scratch/err" || fail "the service's command line: $(cat "$scratch/err")"; }
"$tool" "${@/#$share/$scratch/share}" --dry-run >/dev/null || fail "the service's command on an empty share"

if ! command -v systemd-analyze >/dev/null 2>&1; then
  echo "SKIPPED: systemd-analyze is not installed (Debian package systemd); the keys above were checked"
  exit $((failures > 0 ? 1 : 77))
fi
sed -e "s|^ExecStart=[^ ]*/quillmar-db|ExecStart=$tool|" -e "s|$share|$scratch/share|g" \
    -e "s|^User=.*|User=$(id -un)|" -e "s|^Group=.*|Group=$(id -gn)|" "$service" >"$scratch/units/quillmar-maintain.service"
cp "$timer" "$scratch/units/quillmar-maintain.timer"
if ! out=$(cd "$scratch/units" && systemd-analyze verify --man=no quillmar-maintain.service quillmar-maintain.timer 2>&1); then
  # Without a running systemd some containers cannot even load units.
  if grep -qiE "Failed to (initialize|connect|set up)|Operation not permitted|not booted" <<<"$out"; then
    echo "SKIPPED: systemd-analyze cannot run here: $out"
    exit $((failures > 0 ? 1 : 77))
  fi
  fail "systemd-analyze verify: $out"
elif [ -n "$out" ]; then
  fail "systemd-analyze verify warns: $out"
fi
next=$(systemd-analyze calendar "$(sed -n 's/^OnCalendar=//p' "$timer")" 2>/dev/null | sed -n 's/^ *Next elapse: //p')
[[ $next == *" 03:00:00 "* ]] || fail "the timer's next elapse is '$next', not at 03:00"

[ $failures -eq 0 ] && echo "systemd service and timer verified"
exit $((failures > 0))
