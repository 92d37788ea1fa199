#!/usr/bin/env bash
# Builds Tolvar with its benchmarks and runs them all. Each prints its figures
# against a reference measured in the same run, and whether its goal holds;
# the script fails when a goal is missed.
#   scripts/bench.sh [BUILD_DIR]
#
# Timings are only worth something on a quiet machine: run it when nothing
# else is busy (see `uptime`), and again if a figure looks disturbed. The
# window benchmark runs headless; under X (e.g. `xvfb-run -a`, with
# QT_QPA_PLATFORM=xcb) it paints as a desktop does. It leaves a screenshot of
# the window with 100,000 call lines in BUILD_DIR/window.png.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build}"
scripts/setup.sh "$build" -DTOLVAR_BENCH=ON

export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
runtime="$(mktemp -d)"
chmod 700 "$runtime"
export XDG_RUNTIME_DIR="$runtime"
trap 'rm -rf "$runtime"' EXIT

echo "load: $(uptime)"
status=0
run() {
    echo
    echo "== $*"
    "$build/bin/$@" || status=1
}
run startup_bench
run write_bench
run reaction_bench
run memory_bench
run rule_lookup_bench
run window_bench --shot "$build/window.png"
run sms_bench
run dmail_bench
run contacts_bench
run address_book_bench
run controllers_bench
run mqtt_bench
exit "$status"
