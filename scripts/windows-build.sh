#!/usr/bin/env bash
# Cross-builds kav-update.exe (`make windows`) against a Qt for Windows kept outside the repository:
#   - the prebuilt one in ../shared/windows when it is there, unpacked once into the cache folder;
#   - otherwise one built from Debian's sources by scripts/build-windows-qt.sh, once (about 30 minutes).
# Usage: scripts/windows-build.sh HOST_BUILD WINDOWS_BUILD [prebuilt-only]
#   HOST_BUILD is the Linux build whose text compiler and demo firmware the Windows build takes.
#   prebuilt-only: without the prebuilt Qt, say so in one line and stop (exit 3) rather than build Qt.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
host_build="$(cd "$1" && pwd)"
win_build="$2"
mode="${3:-}"
cache="${KAV_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kav-update}"
qt="$cache/qt6-win"
prebuilt="${KAV_WINDOWS_QT_ARCHIVE:-$repo/../shared/windows/qt6.4.2-mingw-x86_64.tar.xz}"

if [ ! -f "$prebuilt" ] && [ ! -f "$qt/lib/cmake/Qt6/Qt6Config.cmake" ] && [ "$mode" = prebuilt-only ]; then
  echo "Windows build and tests skipped: no prebuilt Qt for Windows at $prebuilt"
  exit 3
fi
bash "$repo/packaging/install-deps.sh" --windows

if [ -f "$prebuilt" ]; then
  # The archive's checksum marks which one the cache holds, so a new archive replaces an old copy.
  sum="$(sha256sum "$prebuilt" | cut -c1-64)"
  if [ "$(cat "$qt/.archive-sha256" 2>/dev/null)" != "$sum" ]; then
    echo "Unpacking the prebuilt Qt for Windows into $qt"
    rm -rf "$qt" "$qt.unpack"
    mkdir -p "$qt.unpack"
    tar -xJf "$prebuilt" -C "$qt.unpack"
    mv "$qt.unpack/qt6-win" "$qt"
    rm -rf "$qt.unpack"
    echo "$sum" > "$qt/.archive-sha256"
  fi
elif [ ! -f "$qt/lib/cmake/Qt6/Qt6Config.cmake" ]; then
  echo "No prebuilt Qt for Windows at $prebuilt: building it from Debian's sources (about 30 minutes, once)"
  bash "$repo/scripts/build-windows-qt.sh" "$qt"
fi

cmake -S "$repo" -B "$win_build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-toolchain.cmake" -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr \
  -DKAV_HOST_BUILD="$host_build" -DKAV_WERROR=ON >/dev/null
cmake --build "$win_build" -j "${JOBS:-$(nproc)}" --target kav-update
