#!/usr/bin/env bash
# Starts the wizard: in a window when a display is there, in terminal mode otherwise.
set -uo pipefail
build=${1:-build}
shift || true
exe="$build/kav-update"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$exe" "$@"
else
  "$exe" --cli "$@"
fi
status=$?
# The exit status is the wizard's answer to scripts; for a person it is only worth a line.
echo "kav-update ended (status $status)"
