#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each
# for a while from its seed corpus. A crash fails the run and leaves its input
# in build-fuzz/crashes/.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"

CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTOLVAR_FUZZ=ON -DTOLVAR_DESKTOP=OFF -DTOLVAR_TESTS=OFF >/dev/null
ninja -C build-fuzz -j"$(nproc)" --quiet capi_message_fuzz hive_fuzz exchange_fuzz sms_dialogue_fuzz vcard_fuzz

mkdir -p build-fuzz/crashes
for target in capi_message hive exchange sms_dialogue vcard; do
    work="$(mktemp -d)"
    cp fuzz/corpus/"$target"/* "$work"/
    echo "fuzzing $target for ${seconds}s"
    build-fuzz/bin/"$target"_fuzz -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix=build-fuzz/crashes/"$target"- "$work" 2>&1 | grep -E '^(Done|stat::number_of_executed_units)|ERROR' || true
    rm -rf "$work"
    if ls build-fuzz/crashes/"$target"-* >/dev/null 2>&1; then
        echo "fuzz: $target crashed; inputs in build-fuzz/crashes/" >&2
        exit 1
    fi
done
