#!/usr/bin/env bash
# Runs the SIGKILL trials (kill_trials.cpp) in a mount namespace of their own.
#   kill_trials.sh KILL_TRIALS [--trials N] [--seed S]
#
# libcapi20 keeps a machine-wide table of its applications (1023 slots) in
# /dev/shm and never frees the slot of a client killed by SIGKILL, so the
# trials get a fresh /dev/shm that vanishes with them. Their files go to a
# tmpfs of their own as well.
set -euo pipefail

if [[ ${TOLVAR_KILL_NAMESPACE:-} != 1 ]]; then
    export TOLVAR_KILL_NAMESPACE=1
    as_root=()
    [[ $(id -u) -eq 0 ]] || as_root=(--map-root-user)
    if ! unshare --mount "${as_root[@]}" true 2>/dev/null; then
        echo "kill_trials: no private mount namespace here (unshare --mount); skipped" >&2
        exit 77
    fi
    exec unshare --mount --propagation private "${as_root[@]}" -- "$0" "$@"
fi

mount -t tmpfs -o mode=1777,size=64m tolvar-shm /dev/shm
scratch=$(mktemp -d)
mount -t tmpfs -o mode=0700,size=256m tolvar-kill "$scratch"
status=0
TMPDIR=$scratch "$@" || status=$?
umount "$scratch"
rmdir "$scratch"
exit "$status"
