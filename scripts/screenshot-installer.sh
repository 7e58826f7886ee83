#!/usr/bin/env bash
# The installer's pages as a person clicks through them, for the README: the installer's first and last pages
# and the uninstaller's last (where the user's files stay), taken under Wine and Xvfb in a prefix of their own.
# Usage: scripts/screenshot-installer.sh SETUP_EXE FOLDER
set -euo pipefail
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"

setup="$(realpath "$1")"
pictures="$(realpath "$2")"
source "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"

window() {  # the first window with this title, waited for
  local id=""
  for _ in $(seq 240); do
    id="$(xdotool search --name "$1" 2>/dev/null | head -1)" && [ -n "$id" ] && break
    sleep 0.25
  done
  [ -n "$id" ] || { echo "no window '$1'" >&2; return 1; }
  echo "$id"
}
shot() { sleep 2; xwd -silent -id "$1" | convert xwd:- "$pictures/$2"; }
# Next, Install, Finish and Uninstall share the place of the default button.
next() { xdotool mousemove --window "$1" 420 338 click 1; }
installed="$(wine cmd /c echo '%LOCALAPPDATA%' | tr -d '\r')\Programs\KAV Firmware Update"
folder="$(winepath -u "$installed")"
wine "$setup" /CurrentUser &
id="$(window '^KAV Firmware Update .* Setup$')"
shot "$id" windows-installer-first.png
next "$id"; sleep 1.5; next "$id"
for _ in $(seq 240); do [ -f "$folder/uninstall.exe" ] && break; sleep 0.5; done
shot "$id" windows-installer-last.png
next "$id"
wait
wineserver -w
wine "$installed\uninstall.exe" &
id="$(window '^KAV Firmware Update .* Uninstall')"
sleep 1.5; next "$id"
for _ in $(seq 240); do [ ! -e "$folder/bin" ] && break; sleep 0.5; done
shot "$id" windows-uninstaller-last.png
next "$id"
wineserver -w
echo "$pictures/windows-installer-first.png $pictures/windows-installer-last.png $pictures/windows-uninstaller-last.png"
