#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the window need. Safe to run again:
# only packages that are missing are installed.
# --windows: what the Windows build and its tests under Wine need instead; --windows-qt: what building Qt for
# Windows from Debian's sources needs.
set -euo pipefail

packages=(
  build-essential cmake make pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev
  libqt6sql6-sqlite libqt6printsupport6 libqt6test6
  libgl-dev clang-format strace
  clang-14 libclang-rt-14-dev
  xvfb xauth fonts-dejavu-core qt6-translations-l10n
  dbus dbus-daemon at-spi2-core python3-pyatspi
  dpkg-dev librsvg2-bin appstream desktop-file-utils lintian
)
if [ "${1:-}" = --windows ]; then
  packages=(
    cmake make xz-utils g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools qt6-translations-l10n
    librsvg2-bin wine wine64 unzip xvfb xauth x11-apps imagemagick xdotool fonts-dejavu-core nsis
  )
fi
if [ "${1:-}" = --windows-qt ]; then
  # tcl: the SQLite amalgamation is put together by Tcl scripts; gcc and make build its generators.
  packages=(
    dpkg-dev xz-utils perl gcc make tcl g++-mingw-w64-x86-64-posix ninja-build cmake qt6-base-dev
    qt6-base-dev-tools
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
$sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
