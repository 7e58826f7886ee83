#!/usr/bin/env bash
# Renders the wizard's pictures for the README into docs/, without a display.
set -euo pipefail
build=${1:-build}
cmake --build "$build" --target kav-screenshot demo_firmware >/dev/null
QT_QPA_PLATFORM=offscreen "$build/kav-screenshot" docs
