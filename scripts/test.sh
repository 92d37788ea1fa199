#!/usr/bin/env bash
# Sets everything up and runs every test: a normal build with every test, the
# fuzz targets for a short while, then the tests that can find memory faults
# again under AddressSanitizer and UBSan (the end-to-end runs only once).
set -euo pipefail
cd "$(dirname "$0")/.."

export QT_QPA_PLATFORM=offscreen
runtime="$(mktemp -d)"
chmod 700 "$runtime"
export XDG_RUNTIME_DIR="$runtime"
trap 'rm -rf "$runtime"' EXIT
# Where the time goes, as it goes.
step() { printf '== %s (at %d:%02d)\n' "$1" $((SECONDS / 60)) $((SECONDS % 60)); }

step "normal build"
scripts/setup.sh build

# Every source file as the committed .clang-format has it.
if ! git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror; then
    echo "clang-format would change the files above: run clang-format -i on them" >&2
    exit 1
fi
# The fuzz and sanitizer builds compile while the tests run, at idle
# priority: they take only the CPU the tests leave, and the tests mostly wait
# on timers. Line tables are all a sanitizer's report needs.
step "tests, with the fuzz and sanitizer builds behind them"
(
    chrt --idle 0 scripts/fuzz.sh 0
    chrt --idle 0 scripts/setup.sh build-asan -DTOLVAR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1
) >"$runtime/builds.txt" 2>&1 &
builds=$!
stop() { local child; for child in $(pgrep -P "$1"); do stop "$child"; done; kill "$1" 2>/dev/null || true; }
trap 'stop $builds; rm -rf "$runtime"' EXIT
ctest --test-dir build --output-on-failure -j2 --timeout 120
step "waiting for the fuzz and sanitizer builds"
if ! wait "$builds"; then
    cat "$runtime/builds.txt" >&2
    exit 1
fi

# The decoders of outside input, fuzzed from their seeds (clang's libFuzzer).
step "fuzzing"
scripts/fuzz.sh 20

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
step "tests under the sanitizers"
ctest --test-dir build-asan --output-on-failure -j2 --timeout 300
step "done"
