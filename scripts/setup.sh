#!/usr/bin/env bash
# Installs what Tolvar needs on Debian 12 and builds it.
#   scripts/setup.sh [--progress] [--target T]... [BUILD_DIR] [extra cmake arguments...]
# --target builds only the named targets (default: everything); --progress
# shows the build's progress lines instead of building quietly.
set -euo pipefail
cd "$(dirname "$0")/.."

progress=0
targets=()
while (($#)); do
    case "$1" in
        --progress) progress=1; shift ;;
        --target) targets+=("$2"); shift 2 ;;
        *) break ;;
    esac
done

packages=(g++ cmake ninja-build pkg-config libcapi20-dev libcapi20-3
          libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev libxkbcommon-dev
          libcanberra-dev espeak-ng libespeak-ng-dev dunst clang clang-format libclang-rt-14-dev
          qt6-svg-dev qt6-translations-l10n desktop-file-utils man-db valgrind tshark dbus-daemon
          libmosquitto-dev mosquitto mosquitto-clients openssl)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing ${#missing[@]} packages (a few minutes on a fresh machine): ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

build="${1:-build}"
shift || true
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
if ((progress)); then
    # One line per step with the share done; a terminal shows them in place.
    NINJA_STATUS="[%p %f/%t] " ninja -C "$build" -j"$(nproc)" "${targets[@]}" | { grep --line-buffered -v '^ninja: ' || true; }
else
    ninja -C "$build" -j"$(nproc)" --quiet "${targets[@]}"
fi
