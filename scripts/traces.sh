#!/usr/bin/env bash
# The wire of every road in tests/traces/roads.txt, kept as a regression suite.
#   traces.sh BUILD_DIR record [PATTERN]   records the roads whose name matches (all by default) into
#                                          tests/traces/NAME.log, from the program as it is
#   traces.sh BUILD_DIR replay [NAME]      runs the program against the recorded DC of one road (all of
#                                          them at once by default); fails, naming the frame, where the
#                                          wire, the rows or the exit status differ
set -euo pipefail
build=$(cd "$1" && pwd)
action=$2
here=$(cd "$(dirname "$0")/.." && pwd)
traces=$here/tests/traces
update=$build/kav-update
sim=$build/kav-dc-sim

road() {  # NAME -> fields firmware how simargs
    local line
    line=$(grep -E "^$1 +\|" "$traces/roads.txt") || { echo "traces.sh: no road '$1'" >&2; exit 2; }
    IFS='|' read -r _ firmware how simargs <<<"$line"
    firmware=$(echo $firmware)
    how=$(echo $how)
    simargs="--restart-seconds 1 $(echo "$simargs" | sed 's/^ *//;s/ *$//')"
    if [ "$firmware" = demo ]; then firmware=$build/KAV.1F.demo.FWR; else firmware=$traces/$firmware; fi
}

record() {  # NAME: the program on the road, its log with the wire kept as the road's trace
    local name=$1 scratch log status=0
    road "$name"
    scratch=$(mktemp -d)
    log=$traces/$name.log
    local run=("$update" --trace --log "$log" --app-dir "$scratch" --firmware "$firmware" --simulate)
    case $how in
        yes) "${run[@]}" --cli --yes --sim-args "$simargs" >/dev/null 2>&1 || status=$? ;;
        answers:*) printf "${how#answers:}" | "${run[@]}" --cli --sim-args "$simargs" >/dev/null 2>&1 || status=$? ;;
        signal:*)
            # The DC tells each frame it hears on its standard error, which becomes the program's.
            "${run[@]}" --cli --yes --sim-args "$simargs --verbose" >/dev/null 2>"$scratch/heard" &
            local pid=$! frames=${how#signal:} heard=0
            until [ "$heard" -ge "$frames" ]; do
                sleep 0.002
                heard=$(grep -c ' <-' "$scratch/heard" || true)
            done
            kill -INT $pid
            wait $pid || status=$? ;;
        identify) "${run[@]}" --identify --sim-args "$simargs" >/dev/null 2>&1 || status=$? ;;
        restore:*)
            gzip -dc "$traces/${how#restore:}.gz" >"$scratch/${how#restore:}"
            echo yes | "${run[@]}" --restore-profile "$scratch/${how#restore:}" --sim-args "$simargs" \
                >/dev/null 2>&1 || status=$? ;;
    esac
    # The backup a refused upload keeps is the file the restore road writes back (compressed: it is mostly
    # empty rows).
    if [ "$name" = upload-refused ]; then gzip -9nc "$scratch"/513.210417.bin >"$traces/513.210417.bin.gz"; fi
    rm -rf "$scratch"
    printf '%-20s exit %d, %5d wire lines, %6d bytes\n' "$name" "$status" \
        "$(grep -cE '^\+[0-9.]+ [<>] ' "$log")" "$(stat -c %s "$log")"
}

replay() {  # NAME
    local name=$1 status=0
    road "$name"
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    case $how in
        identify | restore:*)
            # The two-command way: the recorded DC on its pseudo-terminal, the program on that port.
            coproc DC { exec "$sim" --replay "$traces/$name.log" 2>"$scratch/dc"; }
            local port
            read -r port <&"${DC[0]}"
            local run=("$update" --port "$port" --app-dir "$scratch" --firmware "$firmware")
            if [ "$how" = identify ]; then
                "${run[@]}" --identify || true
            else
                gzip -dc "$traces/${how#restore:}.gz" >"$scratch/${how#restore:}"
                echo yes | "${run[@]}" --restore-profile "$scratch/${how#restore:}" || true
            fi
            exec {DC[1]}>&-
            wait $DC_PID || status=$?
            cat "$scratch/dc" >&2 ;;
        *) "$update" --replay "$traces/$name.log" --firmware "$firmware" --app-dir "$scratch" || status=$? ;;
    esac
    return $status
}

replay_all() {  # every road at once (they mostly wait, as the program does); each failure told in full
    local names failed=0
    names=$(grep -vE '^#|^$' "$traces/roads.txt" | cut -d'|' -f1)
    out=$(mktemp -d)
    for name in $names; do
        (if bash "$0" "$build" replay "$name" >"$out/$name" 2>&1; then touch "$out/$name.ok"; fi) &
    done
    wait
    for name in $names; do
        if [ -e "$out/$name.ok" ]; then
            echo "$name: $(tail -n 1 "$out/$name")"
        else
            failed=1
            echo "==== $name: FAILED"
            cat "$out/$name"
        fi
    done
    rm -rf "$out"
    return $failed
}

case $action in
    record)
        pattern=${3:-.}
        for name in $(grep -vE '^#|^$' "$traces/roads.txt" | cut -d'|' -f1); do
            if [[ $name =~ $pattern ]]; then record "$name"; fi
        done ;;
    replay) if [ "${3:-all}" = all ]; then replay_all; else replay "$3"; fi ;;
    *) echo "usage: traces.sh BUILD_DIR record [PATTERN] | replay [NAME]" >&2; exit 2 ;;
esac
