#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each
# for a while from its seed corpus, as many at once as there are cores. A
# crash fails the run and leaves its input in build-fuzz/crashes/.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]     0 only builds them
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
targets=(capi_message hive exchange sms_dialogue vcard)

CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTOLVAR_FUZZ=ON -DTOLVAR_DESKTOP=OFF -DTOLVAR_TESTS=OFF >/dev/null
ninja -C build-fuzz -j"$(nproc)" --quiet "${targets[@]/%/_fuzz}"
((seconds > 0)) || exit 0

mkdir -p build-fuzz/crashes
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
fuzz() {
    local target="$1" work="$out/$1"
    mkdir "$work"
    cp fuzz/corpus/"$target"/* "$work"/
    build-fuzz/bin/"$target"_fuzz -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix=build-fuzz/crashes/"$target"- "$work" >"$out/$target.txt" 2>&1 || true
}
for target in "${targets[@]}"; do
    echo "fuzzing $target for ${seconds}s"
    fuzz "$target" &
    while (($(jobs -rp | wc -l) >= $(nproc))); do wait -n || true; done
done
wait
status=0
for target in "${targets[@]}"; do
    echo "$target:"
    grep -E '^(Done|stat::number_of_executed_units)|ERROR' "$out/$target.txt" || true
    if ls build-fuzz/crashes/"$target"-* >/dev/null 2>&1; then
        echo "fuzz: $target crashed; inputs in build-fuzz/crashes/" >&2
        status=1
    fi
done
exit "$status"
