#!/usr/bin/env bash
# Starts the wizard: in a window when a display is there, in terminal mode otherwise; against the simulated DC
# unless the arguments name a port (--port DEVICE), since the build's firmware is the demo one.
set -uo pipefail
build=${1:-build}
shift || true
args=("$@")

port=no
for arg in "${args[@]}"; do
  case "$arg" in
    --port | --port=*) port=yes ;;
  esac
done
if [ "$port" = no ]; then
  echo "Using the simulated dive computer (give --port DEVICE and --firmware FILE for a real one)."
  args=(--simulate "${args[@]}")
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  args=(--cli "${args[@]}")
fi

"$build/kav-update" "${args[@]}"
status=$?
# The exit status is the wizard's answer to scripts; for a person it is only worth a line.
echo "kav-update ended (status $status)"
