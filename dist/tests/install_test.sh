#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR under /usr, as the Debian
# package does, and finds every file in its place and consistent with the
# others: the desktop entry names an installed program and icon, the
# metainfo names the desktop entry and the project's version.
# Usage: install_test.sh BUILD_DIR PROJECT_VERSION WITH_APP(ON|OFF)
set -uo pipefail
build=$1 version=$2 with_app=$3
id=io.github.quillmar.Quillmar
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

log=$(DESTDIR=$root cmake --install "$build" --prefix /usr 2>&1) ||
  { echo "$log"; echo "FAIL: cmake --install"; exit 1; }
usr=$root/usr

expected=(
  bin/quillmar-db
  share/man/man1/quillmar-db.1.gz
  share/bash-completion/completions/quillmar-db
  share/doc/quillmar/examples/quillmar-maintain.service
  share/doc/quillmar/examples/quillmar-maintain.timer
)
if [ "$with_app" = ON ]; then
  expected+=(
    bin/quillmar
    share/man/man1/quillmar.1.gz
    share/applications/$id.desktop
    share/metainfo/$id.metainfo.xml
    share/icons/hicolor/scalable/apps/$id.svg
  )
  for size in 16 22 24 32 48 64 128 256; do
    expected+=(share/icons/hicolor/${size}x$size/apps/$id.png)
  done
fi
for file in "${expected[@]}"; do
  [ -s "$usr/$file" ] || fail "missing or empty: /usr/$file"
done
for program in quillmar quillmar-db; do
  [ ! -e "$usr/bin/$program" ] || [ -x "$usr/bin/$program" ] || fail "/usr/bin/$program is not executable"
done
# Nothing else: no libraries, headers or test programs ride along.
unexpected=$(cd "$usr" && find . -type f | sed 's|^\./||' | sort |
             comm -23 - <(printf '%s\n' "${expected[@]}" | sort))
[ -z "$unexpected" ] || fail "installed but not expected: $unexpected"

out=$("$usr/bin/quillmar-db" --version) || fail "installed quillmar-db --version failed"
[ "$out" = "quillmar-db $version" ] || fail "installed quillmar-db --version says '$out'"
zcat "$usr/share/man/man1/quillmar-db.1.gz" | grep -q "^\.TH QUILLMAR-DB 1 .*Quillmar $version" ||
  fail "quillmar-db(1) does not carry version $version"

grep -qx "ExecStart=/usr/bin/quillmar-db maintain .*" "$usr/share/doc/quillmar/examples/quillmar-maintain.service" ||
  fail "the example service does not run /usr/bin/quillmar-db maintain"

if [ "$with_app" = ON ]; then
  desktop=$usr/share/applications/$id.desktop
  exec_line=$(sed -n 's/^Exec=//p' "$desktop")
  [ "$exec_line" = quillmar ] || fail "desktop entry runs '$exec_line', not quillmar (no file argument)"
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ "$icon" = "$id" ] || fail "desktop entry's icon is '$icon'"
  metainfo=$usr/share/metainfo/$id.metainfo.xml
  grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "metainfo does not launch $id.desktop"
  newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n 1 | cut -d'"' -f2)
  [ "$newest" = "$version" ] || fail "metainfo's newest release is '$newest', the project is $version"
  for size in 16 256; do
    png=$usr/share/icons/hicolor/${size}x$size/apps/$id.png
    dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$dims" = "${size}x$size" ] || fail "$png is $dims"
  done
fi

[ $failures -eq 0 ] && echo "install: ${#expected[@]} files in place under DESTDIR/usr"
exit $((failures > 0))
