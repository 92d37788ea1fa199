#!/usr/bin/env bash
# A hostile line against the running program: hostile_capi streams generated
# and mutated CAPI messages through libcapi20 into "tolvar --console", then a
# normal call; this script checks what the program is left with.
#   hostile_stream.sh BIN_DIR [--valgrind VALGRIND] [--count N] [--only KINDS]
# HOSTILE_SEED=S repeats a run, HOSTILE_KEEP=1 keeps its scratch folder.
set -uo pipefail
bin="$(cd "$1" && pwd)"
shift
count=100000 valgrind="" only=""
while (($#)); do
    case "$1" in
        --valgrind) valgrind="$2" ;;
        --count) count="$2" ;;
        --only) only="--only $2" ;;
        *) echo "hostile_stream.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done
seed="${HOSTILE_SEED:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}"
warm=5000 patience=10000
runner=()
if [ -n "$valgrind" ]; then
    # Far slower; memcheck's own memory makes the resident size meaningless.
    warm=0 patience=15000
    runner=("$valgrind" --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite
            --track-fds=no -q)
fi
# ASan's quarantine would hold freed memory and look like growth.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=1"

work="$(mktemp -d)"
tool="" prog=""
cleanup() {
    [ -n "$prog" ] && kill "$prog" 2>/dev/null
    [ -n "$tool" ] && kill "$tool" 2>/dev/null
    wait 2>/dev/null
    if [ -n "${HOSTILE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}
# Waits up to $2 seconds for a line of the tool's output matching $1; gives
# up soon after either program has gone.
wait_for() {
    local gone=0
    for ((i = 0; i < $2 * 10; i++)); do
        grep -q "$1" "$work/tool.out" && return 0
        kill -0 "$tool" 2>/dev/null || return 1
        [ -n "$prog" ] && ! kill -0 "$prog" 2>/dev/null && ((gone++ > 30)) && return 1
        sleep 0.1
    done
    return 1
}
rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$prog/status" 2>/dev/null; }

: >"$work/tool.out"
# shellcheck disable=SC2086
"$bin/hostile_capi" --seed "$seed" --count "$count" --warm "$warm" --patience "$patience" \
    $only >"$work/tool.out" 2>&1 &
tool=$!
wait_for '^listening ' 10 || { cat "$work/tool.out"; fail "hostile_capi did not start"; exit 1; }
port="$(sed -n 's/^listening //p' "$work/tool.out")"
echo "seed $seed, $count messages, port $port${valgrind:+, under valgrind}"

mkdir "$work/home"
: >"$work/home/klingel.wav"
cat >"$work/registry.reg" <<EOF
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar]
"ShowISDNTab"=dword:00000001

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\5551234 Privat\0301234567 Anna\00:00]
"Action"=dword:00000000
"Param"=""

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\5551234 Privat\0401234567 Datenzentrale\00:00]
"Action"=dword:00000003
"Param"=""

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\5551234 Privat\0201234567 Klingel\00:00]
"Action"=dword:00000002
"Param"="$work/home/klingel.wav"

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\5551234 Privat\Sonstige\00:00]
"Action"=dword:00000000
"Param"=""

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\5551234 Privat\Unbekannt/Analog\08:00]
"Action"=dword:00000000
"Param"=""
EOF
mkfifo "$work/in"
(cd "$work/home" && exec "${runner[@]}" "$bin/tolvar" --console --capi "rcapi:127.0.0.1:$port" \
    --registry "$work/registry.reg" <"$work/in" >"$work/console.out" 2>"$work/stderr.txt") &
prog=$!
exec 3>"$work/in"

rss_warm=""
# A stream cut short says "done" without "warm".
((warm > 0 && warm < count)) && wait_for '^\(warm\|done\)$' 120 &&
    grep -q '^warm$' "$work/tool.out" && rss_warm="$(rss)" &&
    out_warm="$(stat -c %s "$work/console.out")"
wait_for '^done' 280 || fail "hostile_capi did not finish"
rss_end="$(rss)"
out_end="$(stat -c %s "$work/console.out")"
grep -v '^\(listening\|seed\|warm\|done\)' "$work/tool.out" | sed 's/^/  /'

# No crash, no abort: the program still runs and ends on "quit" with 0.
if kill -0 "$prog" 2>/dev/null; then
    (echo quit >&3) 2>/dev/null # in a subshell: a reader gone by now would SIGPIPE the script
    for ((i = 0; i < 300; i++)); do kill -0 "$prog" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$prog" 2>/dev/null; then
        fail "tolvar did not end within 30 s of quit"
        kill -9 "$prog"
        wait "$prog"
    else
        wait "$prog"
        code=$?
        ((code == 0)) || fail "tolvar ended on quit with exit code $code${valgrind:+ (99: memcheck found errors)}"
    fi
else
    wait "$prog"
    fail "tolvar died during the stream (exit status $?)"
fi
prog=""
exec 3>&-
[ -s "$work/stderr.txt" ] && { echo "  tolvar's stderr:"; head -n 30 "$work/stderr.txt" | sed 's/^/    /'; }
# After "done" the tool ends once the program has closed its connection.
grep -q '^done' "$work/tool.out" || kill "$tool" 2>/dev/null
wait "$tool"
(($? != 1)) || fail "hostile_capi found faults (its FAIL lines above)"
tool=""

# Memory stays flat after the warm-up, but for the ISDN trace, which the
# program keeps whole by design (never limited): its text printed meanwhile,
# at the store's own bound of 1.5 times the text, is allowed on top.
if [ -n "$rss_warm" ] && [ -n "$rss_end" ]; then
    trace_kb="$(tail -c +$((out_warm + 1)) "$work/console.out" | head -c $((out_end - out_warm)) |
        awk '/^isdn: / { n += length($0) - 6 } END { printf "%d", n * 1.5 / 1024 }')"
    echo "VmRSS after warm-up ${rss_warm} kB, at the end ${rss_end} kB (the trace's allowance ${trace_kb} kB)"
    ((rss_end - rss_warm <= 5120 + trace_kb)) ||
        fail "VmRSS grew by $((rss_end - rss_warm)) kB, ${trace_kb} kB of it the trace's"
fi

export LC_ALL=C
sed 's/\r$//' "$work/home/Tolvar.txt" >"$work/file.txt" 2>/dev/null
# The event log as the console shows it: the last text of each line N.
grep -a '^protokoll [0-9]*: ' "$work/console.out" >"$work/protokoll.txt"
awk '{ n = substr($2, 1, length($2) - 1) + 0; sub(/^protokoll [0-9]+: /, ""); line[n] = $0
       if (n + 1 > count) count = n + 1 }
     END { for (i = 0; i < count; i++) print line[i] }' "$work/protokoll.txt" >"$work/eventlog.txt"

# The normal call is alerted (hostile_capi checks) and logged as usual.
call='^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]   0301234567 -> 5551234  Anna$'
logged=1
tail -n 1 "$work/eventlog.txt" | grep -q "$call" || {
    fail "the normal call's line is missing; the log ends with: $(tail -n 1 "$work/eventlog.txt")"
    logged=0
}
tail -n 1 "$work/file.txt" | grep -q "$call" || {
    fail "Tolvar.txt does not end with the normal call's line"
    logged=0
}

# No control character in the log: U+0000-U+001F, U+007F, U+0080-U+009F
# (C2 80 to C2 9F in UTF-8), nor CR or LF, which the console writes as \r, \n.
controls='[\x00-\x1F\x7F]|\xC2[\x80-\x9F]'
# Reports up to 3 lines of file $1 that match grep options $2..., shown with cat -v.
offending() {
    local what="$1" file="$2"
    shift 2
    grep -na "$@" "$file" >"$work/bad.txt" || return 0
    fail "$what, e.g.:"
    head -n 3 "$work/bad.txt" | cat -v | sed 's/^/    /'
}
offending "control characters in the console's event log" "$work/protokoll.txt" \
    -P "$controls|\\\\[rn]"
offending "control characters in Tolvar.txt" "$work/file.txt" -P "$controls"
LC_ALL=C.UTF-8 offending "Tolvar.txt is not UTF-8" "$work/file.txt" -xv '.*'
# Once the normal call's end has written it, Tolvar.txt holds the event log
# line by line: none forged by a number.
if ((logged)) && ! diff -a "$work/file.txt" "$work/eventlog.txt" >"$work/bad.txt"; then
    fail "Tolvar.txt differs from the event log (< file, > log):"
    head -n 6 "$work/bad.txt" | cat -v | sed 's/^/    /'
fi

if ((failed)); then
    echo "hostile stream failed; repeat with:" \
        "HOSTILE_SEED=$seed $0 $bin${valgrind:+ --valgrind $valgrind} --count $count${only:+ $only}"
    exit 1
fi
echo "hostile stream passed"
