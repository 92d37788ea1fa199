#!/usr/bin/env bash
# Installs a build into a scratch prefix and checks what a desktop user gets:
# the programs and the speech helper, a valid menu entry whose icon exists in every size, manual
# pages without formatting warnings, the user unit, the licence.
#   install_test.sh BUILD_DIR
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

for f in bin/tolvar bin/tolvar-line bin/tolvar-linectl; do
    [ -x "$prefix/$f" ] || fail "$f missing"
done
"$prefix/bin/tolvar" --version | grep -qx 'tolvar 2.7' || fail "installed tolvar does not start"

# The speech helper is the program's own, not a command on the user's PATH:
# under libexec, where the program looks for it, and it speaks from there.
[ ! -e "$prefix/bin/tolvar-speak" ] || fail "tolvar-speak is on the PATH"
speak="$prefix/libexec/tolvar/tolvar-speak"
[ -x "$speak" ] || fail "$speak missing"
"$speak" "" de "$prefix/ansage.wav" "Anruf von Mutter" || fail "installed tolvar-speak does not speak"
[ "$(head -c 4 "$prefix/ansage.wav")" = RIFF ] || fail "tolvar-speak wrote no wave file"

entry="$prefix/share/applications/tolvar.desktop"
desktop-file-validate "$entry" || fail "menu entry invalid"
grep -qx 'Exec=tolvar' "$entry" || fail "menu entry does not start tolvar"
icon="$(sed -n 's/^Icon=//p' "$entry")"

# Each PNG is as large as its folder says (width and height from the IHDR chunk).
for size in 16 22 24 32 48 64 128 256; do
    png="$prefix/share/icons/hicolor/${size}x${size}/apps/$icon.png"
    [ -f "$png" ] || fail "$png missing"
    read -r w h < <(od -An -tu1 -j16 -N8 "$png" |
        awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
    [ "$w $h" = "$size $size" ] || fail "$png is ${w}x$h"
done
svg="$prefix/share/icons/hicolor/scalable/apps/$icon.svg"
grep -q 'viewBox="0 0 32 32"' "$svg" || fail "$svg has no 32x32 view box"
grep -q '<path' "$svg" || fail "$svg draws nothing"

for page in tolvar tolvar-line tolvar-linectl; do
    man1="$prefix/share/man/man1/$page.1.gz"
    [ -f "$man1" ] || fail "$man1 missing"
    warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$man1" 2>&1 >/dev/null)"
    [ -z "$warnings" ] || fail "$page.1: $warnings"
done
LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$prefix/share/man/man1/tolvar.1.gz" 2>/dev/null |
    grep -q 'CONSOLE PROTOCOL' || fail "tolvar(1) lacks the console protocol"

unit="$prefix/lib/systemd/user/tolvar-console.service"
grep -qx "ExecStart=$prefix/bin/tolvar --console \$TOLVAR_ARGS" "$unit" || fail "unit does not start the console"
grep -qx 'Restart=on-failure' "$unit" || fail "unit is not restarted on failure"

grep -q 'GNU GENERAL PUBLIC LICENSE' "$prefix/share/doc/tolvar/LICENSE" || fail "licence missing"
echo "install tree complete"
