#!/usr/bin/env bash
# Fails when a file of the program includes a header from a layer above its own, from a sibling folder of its own
# layer, or from tools, tests or benchmarks. Tools, tests and benchmarks may include any layer.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# The layers, lowest first. Folders on one line are one layer and stay apart from each other.
LAYERS=(
    "support resources"
    "link"
    "run"
    "firmware profile"
    "update"
    "wizard"
    "wizard/front"
    "app"
)
OUTSIDE="tools tests bench"

declare -A rank
for i in "${!LAYERS[@]}"; do
    for folder in ${LAYERS[$i]}; do rank[$folder]=$i; done
done
for folder in $OUTSIDE; do rank[$folder]=outside; done

# The folder a path belongs to: the longest known folder that prefixes it, or nothing.
folder_of() {
    local path=$1 best=""
    for folder in "${!rank[@]}"; do
        if [[ $path == "$folder"/* && ${#folder} -gt ${#best} ]]; then best=$folder; fi
    done
    printf '%s' "$best"
}

failures=0
while IFS= read -r path; do
    file=${path#src/} # the product's layers live under src/ and are included from there
    from=$(folder_of "$file")
    [[ -n $from && ${rank[$from]} != outside ]] || continue
    while IFS= read -r line; do
        header=${line#*\"}
        header=${header%%\"*}
        to=$(folder_of "$header")
        [[ -n $to && $to != "$from" ]] || continue
        if [[ ${rank[$to]} == outside || ${rank[$to]} -ge ${rank[$from]} ]]; then
            echo "layer check: $path includes $header (${to}/ is not below ${from}/)" >&2
            failures=$((failures + 1))
        fi
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$path" || true)
done < <(find . -path ./build -prune -o -path './build-*' -prune -o \( -name '*.h' -o -name '*.cpp' \) -print | sed 's#^\./##' | sort)

if ((failures > 0)); then
    echo "layer check: $failures include(s) run upward; move the shared part down" >&2
    exit 1
fi
echo "layer check: every include runs down (${#LAYERS[@]} layers)"
