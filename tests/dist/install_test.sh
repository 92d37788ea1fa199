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
grep -qx 'Exec=tolvar --state-dir' "$entry" || fail "menu entry does not start tolvar in its state folder"
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
render() { LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$prefix/share/man/man1/$1.1.gz" 2>/dev/null; }
tolvar_page="$(render tolvar)"
grep -q 'CONSOLE PROTOCOL' <<<"$tolvar_page" || fail "tolvar(1) lacks the console protocol"
# Every channel the console writes, and every command its help lists, is in tolvar(1).
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
for channel in $(grep -oh 'Emit("[a-z -]*' "$source_dir"/console/*.cpp | sed 's/Emit("//; s/ $//' | sort -u) \
               help error; do
    grep -Eq "^ {7}([a-z-]+, )*$channel( |,|$)" <<<"$tolvar_page" || fail "tolvar(1) lacks the channel $channel"
done
for command in $(sed -n 's/^    {"\([a-z-]*\)[ "].*/\1/p' "$source_dir/console/console_front_end.cpp"); do
    grep -Eq "^ {7}(.*, )?$command( |,|$)" <<<"$tolvar_page" || fail "tolvar(1) lacks the command $command"
done
exit_codes="$(sed -n '/^EXIT STATUS/,/^[A-Z]/p' <<<"$tolvar_page" | grep -Eo '^ {7}[0-9]+' | tr -d ' ' | tr '\n' ' ')"
[ "$exit_codes" = "0 1 2 3 4 " ] || fail "tolvar(1) lists the exit codes $exit_codes"
render tolvar-line | grep -q 'LINE app ID (conn N) -> NAME #NUM HEX' || fail "tolvar-line(1)'s LOG is garbled"
# The scenario the manual pages start is installed where they say.
for scenario in $(zcat "$prefix"/share/man/man1/*.1.gz | grep -o '/usr/share/[^ ]*\.scn' | sort -u); do
    [ -f "$prefix/${scenario#/usr/}" ] || fail "$scenario named by a manual page is not installed"
done
[ -f "$prefix/share/doc/tolvar/examples/demo.scn" ] || fail "the demo scenario is not installed"

unit="$prefix/lib/systemd/user/tolvar-console.service"
grep -qx "ExecStart=$prefix/bin/tolvar --console \$TOLVAR_ARGS" "$unit" || fail "unit does not start the console"
grep -qx 'Restart=on-failure' "$unit" || fail "unit is not restarted on failure"

grep -q 'GNU GENERAL PUBLIC LICENSE' "$prefix/share/doc/tolvar/LICENSE" || fail "licence missing"
echo "install tree complete"
