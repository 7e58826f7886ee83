#!/usr/bin/env bash
# `make installer-windows`: the Windows build's files, laid out as an installed program (bin\ with the program,
# its libraries and plug-ins; share\kav-update\ with the texts and the demo firmware, where the program knows
# it is installed and keeps the user's files in the user's own folders), packed by NSIS into
# WINDOWS_BUILD/kav-update-<version>-setup.exe.
# Usage: scripts/windows-installer.sh WINDOWS_BUILD
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
win_build="$(cd "$1" && pwd)"
version="$(cat "$win_build/version.txt")"
stage="$win_build/installer"
tree="$stage/tree"

rm -rf "$stage"
cmake --install "$win_build" --prefix "$stage/flat" --strip >/dev/null
mkdir -p "$tree/share/kav-update"
mv "$stage/flat/FirmwareUpdate.lng" "$stage/flat/KAV.1F.demo.FWR" "$tree/share/kav-update/"
mv "$stage/flat/LICENSE.txt" "$tree/"
rm "$stage/flat/README.txt"  # the zip's own: how to run from an unpacked folder
mv "$stage/flat" "$tree/bin"

# The files to install, and exactly those to remove again (deepest folders last), as NSIS lines.
: > "$stage/install.nsh"
: > "$stage/uninstall.nsh"
(cd "$tree" && find . -type d | sort) | while read -r dir; do
  rel="${dir#./}"
  [ "$rel" = . ] && rel=""
  files=$(cd "$tree/$dir" && find . -maxdepth 1 -type f | sort)
  [ -n "$files" ] || continue
  echo "SetOutPath \"\$INSTDIR${rel:+\\${rel//\//\\}}\"" >> "$stage/install.nsh"
  for f in $files; do
    echo "File \"$tree/${rel:+$rel/}${f#./}\"" >> "$stage/install.nsh"
    echo "Delete \"\$INSTDIR${rel:+\\${rel//\//\\}}\\${f#./}\"" >> "$stage/uninstall.nsh"
  done
done
(cd "$tree" && find . -mindepth 1 -type d | sort -r) | while read -r dir; do
  rel="${dir#./}"
  echo "RMDir \"\$INSTDIR\\${rel//\//\\}\"" >> "$stage/uninstall.nsh"
done
echo 'SetOutPath "$INSTDIR"' >> "$stage/install.nsh"

# The side picture of the first and last pages: the program's icon on the colour of its dial.
rsvg-convert -w 128 -h 128 -o "$stage/icon-128.png" "$repo/packaging/org.kavdive.FirmwareUpdate.svg"
convert -size 164x314 xc:'#123a5c' "$stage/icon-128.png" -gravity north -geometry +0+48 -composite \
  -type TrueColor BMP3:"$stage/side.bmp"

out="$win_build/kav-update-$version-setup.exe"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DOUTFILE="$out" -DICON="$win_build/kav-update.ico" \
  -DSIDE_PICTURE="$stage/side.bmp" \
  -DSIZE_KB="$(du -sk "$tree" | cut -f1)" -DINSTALL_LIST="$stage/install.nsh" \
  -DUNINSTALL_LIST="$stage/uninstall.nsh" "$repo/packaging/windows/installer.nsi" >/dev/null
echo "$out"
