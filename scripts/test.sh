#!/usr/bin/env bash
# Sets everything up and runs every test: a normal build, the fuzz targets for
# a short while, then the whole suite again under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."

export QT_QPA_PLATFORM=offscreen
runtime="$(mktemp -d)"
chmod 700 "$runtime"
export XDG_RUNTIME_DIR="$runtime"
trap 'rm -rf "$runtime"' EXIT

scripts/setup.sh build -DTOLVAR_BENCH=ON

# Every source file as the committed .clang-format has it.
if ! git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror; then
    echo "clang-format would change the files above: run clang-format -i on them" >&2
    exit 1
fi
ctest --test-dir build --output-on-failure -j2 --timeout 120

# The decoders of outside input, fuzzed from their seeds (clang's libFuzzer).
scripts/fuzz.sh 20

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
scripts/setup.sh build-asan -DTOLVAR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
ctest --test-dir build-asan --output-on-failure -j2 --timeout 300
