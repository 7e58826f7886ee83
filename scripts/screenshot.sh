#!/usr/bin/env bash
# Renders the wizard's pictures for the README into docs/, without a display: at 100 %, and at 150 % and 200 %
# under their own names (scale-150-page1.png), to see that nothing clips on a high-resolution screen.
set -euo pipefail
build=${1:-build}
cmake --build "$build" --target kav-screenshot demo_firmware >/dev/null
screen=$(mktemp)
trap 'rm -f "$screen"' EXIT
for scale in 1 1.5 2; do
    # Offscreen's screen keeps 800 x 600 pixels at any scale: a 400-pixel-wide screen at 200 % would squeeze the
    # boxes as no real screen does. Scaled with the window, it is the same screen at a higher resolution.
    read -r width height < <(awk -v s="$scale" 'BEGIN { print int(800 * s), int(600 * s) }')
    printf '{"screens": [{"name": "screen", "x": 0, "y": 0, "width": %d, "height": %d, "logicalDpi": 96}]}\n' \
        "$width" "$height" >"$screen"
    QT_QPA_PLATFORM="offscreen:configfile=$screen" QT_SCALE_FACTOR=$scale "$build/kav-screenshot" docs
done
