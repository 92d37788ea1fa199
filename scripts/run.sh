#!/usr/bin/env bash
# Sets everything up, starts the simulated ISDN line with its demo scenario and
# Tolvar attached to it: the window with a display, the console without one.
# The demo keeps its own settings and event log in build/demo, apart from
# yours.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

programs=(tolvar tolvar-line tolvar-linectl)
if [ -x build/bin/tolvar ]; then
    echo "Checking the build of ${programs[*]} in build/ (seconds), then starting the demo."
else
    echo "Building ${programs[*]} in build/ (30 to 60 s on 2 cores, once), then starting"
    echo "the simulated line with its demo scenario and Tolvar on it. Tests and benchmarks are"
    echo "built by scripts/test.sh."
fi
scripts/setup.sh --progress --target tolvar --target tolvar-line --target tolvar-linectl build

demo="$root/build/demo"
mkdir -p "$demo"
[ -f "$demo/registry.reg" ] || cp scripts/demo/registry.reg "$demo/registry.reg"

out="$(mktemp)"
build/bin/tolvar-line --port 0 --scenario line/scenarios/demo.scn --log "$demo/line.log" >"$out" &
line_pid=$!
trap 'kill $line_pid 2>/dev/null; rm -f "$out"' EXIT
for _ in $(seq 50); do grep -q '^ready' "$out" && break; sleep 0.1; done
port="$(sed -n 's/^listening 127.0.0.1:\([0-9]*\) home$/\1/p' "$out")"
office="$(sed -n 's/^listening 127.0.0.1:\([0-9]*\) office$/\1/p' "$out")"
control="$(sed -n 's/^control //p' "$out")"
[ -n "$port" ] || { echo "tolvar-line did not start" >&2; exit 1; }

linectl="build/bin/tolvar-linectl --control $control"
echo
echo "The simulated exchange (its log: $demo/line.log), controlled at $control:"
echo "  line home   (MSN 5551234, 5551235): rcapi:127.0.0.1:$port, Tolvar is attached here"
echo "  line office (MSN 7770001, 7770002): rcapi:127.0.0.1:$office, for a second copy:"
echo "    build/bin/tolvar --console --capi rcapi:127.0.0.1:$office --registry /tmp/office.reg"
echo "Place a call:       $linectl call 0301234567 5551234"
echo "SMS that arrived:   $linectl accepted"
echo "  (\"SMS senden\" to 01711234567 reaches the UCP centre, to 01681234567 the TAP one)"
echo "The first demo caller rings within 5 seconds."
echo

# A local MQTT broker for the calls on other screens, when mosquitto is installed
# and nothing listens on its port yet; the demo publishes to it.
if [ -x /usr/sbin/mosquitto ] && ! (exec 3<>/dev/tcp/127.0.0.1/1883) 2>/dev/null; then
    printf 'listener 1883 127.0.0.1\nallow_anonymous true\n' >"$demo/mosquitto.conf"
    /usr/sbin/mosquitto -c "$demo/mosquitto.conf" >"$demo/mosquitto.log" 2>&1 &
    broker_pid=$!
    trap 'kill $line_pid $broker_pid 2>/dev/null; rm -f "$out"' EXIT
fi
if [ -x /usr/sbin/mosquitto ]; then
    grep -q 'Tolvar\\MQTT\]' "$demo/registry.reg" ||
        printf '\n[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MQTT]\n"Enabled"=dword:00000001\n"Host"="127.0.0.1"\n' >>"$demo/registry.reg"
    echo "MQTT broker:    127.0.0.1:1883; watch the calls: mosquitto_sub -v -t 'tolvar/#'"
fi

cd "$demo"
args=(--capi "rcapi:127.0.0.1:$port" --registry "$demo/registry.reg")
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Tolvar starts hidden: its icon is in the notification area (the tray) of your"
    echo "panel. Double-click it, or right-click it and choose \"Anzeigen\", to open the"
    echo "window; \"Beenden\" in that menu ends the demo."
    "$root/build/bin/tolvar" "${args[@]}"
else
    echo "No display: the console front end. Type 'help' for its commands, 'quit' to end."
    "$root/build/bin/tolvar" --console "${args[@]}"
fi
