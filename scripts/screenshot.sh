#!/usr/bin/env bash
# Renders page 1 of the wizard into docs/page1.png, without a display.
set -euo pipefail
build=${1:-build}
cmake --build "$build" --target kav-screenshot >/dev/null
QT_QPA_PLATFORM=offscreen "$build/kav-screenshot" docs/page1.png
echo "docs/page1.png written"
