#!/usr/bin/env bash
# Starts the wizard: in a window when a display is there, in terminal mode otherwise; against the simulated DC
# when no interface cable (USB 0403:F460) is plugged in.
set -uo pipefail
build=${1:-build}
shift || true
args=("$@")

cable=no
for dev in /sys/bus/usb/devices/*; do
  if [ "$(cat "$dev/idVendor" 2>/dev/null)" = "0403" ] && [ "$(tr 'A-F' 'a-f' <"$dev/idProduct" 2>/dev/null)" = "f460" ]; then
    cable=yes
  fi
done
if [ "$cable" = no ]; then
  echo "No interface cable found: using the simulated dive computer."
  args=(--simulate "${args[@]}")
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  args=(--cli "${args[@]}")
fi

"$build/kav-update" "${args[@]}"
status=$?
# The exit status is the wizard's answer to scripts; for a person it is only worth a line.
echo "kav-update ended (status $status)"
