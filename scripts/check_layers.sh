#!/usr/bin/env bash
# Checks that imports run down the layers only: a folder's sources include
# from their own folder and from folders of lower layers, never from a higher
# layer nor from a neighbour on the same layer. Prints every import that
# breaks this and fails if there is one.
#   scripts/check_layers.sh [SOURCE_DIR]
set -euo pipefail
src="${1:-$(dirname "$0")/..}"

# Top to bottom; folders on one line are neighbours that know nothing of each
# other. README.md "How it is built" says what each holds.
layers=(
    "dist"
    "app"
    "console"
    "cli engine"
    "mqtt sms"
    "dmail"
    "calls"
    "desktop rules"
    "capi registry"
    "core"
)
# The simulated exchange is a program of its own: it includes only itself,
# and nothing of the program includes it.
islands=(line)

declare -A rank
for i in "${!layers[@]}"; do
    for folder in ${layers[$i]}; do rank[$folder]=$i; done
done
for folder in "${islands[@]}"; do rank[$folder]=island; done

bad=0
for folder in "${!rank[@]}"; do
    [ -d "$src/$folder" ] || { echo "$folder: folder missing" >&2; bad=1; continue; }
    while IFS= read -r hit; do
        file="${hit%%:*}"
        rest="${hit#*:}"
        line="${rest%%:*}"
        [[ "${rest#*:}" =~ include[[:space:]]*\"([^\"/]+)/ ]] || continue
        target="${BASH_REMATCH[1]}"
        [ "$target" != "$folder" ] || continue
        from="${rank[$folder]}" to="${rank[$target]:-}"
        if [ -z "$to" ]; then
            why="a folder that has no layer"
        elif [ "$from" = island ] || [ "$to" = island ]; then
            why="the line simulator and the program share nothing"
        elif ((to > from)); then
            continue
        elif ((to == from)); then
            why="a neighbour on the same layer"
        else
            why="a higher layer"
        fi
        echo "${file#"$src"/}:$line: includes $target/ ($why)" >&2
        bad=1
    done < <(grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$src/$folder" || true)
done
exit "$bad"
