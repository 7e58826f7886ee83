#!/usr/bin/env bash
# `make test-windows`: the Windows program from its zip, unpacked into a fresh Wine prefix with nothing else in
# it, run against the simulated DC (tests/test_wine.cpp); then its installer in the same prefix: installed,
# used, installed again and removed (tests/test_wine_installer.cpp).
# Usage: scripts/test-windows.sh [prebuilt-only]   (BUILD, WIN_BUILD from the Makefile)
#   prebuilt-only: without the prebuilt Qt for Windows, one line says the tests were skipped.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
build="${BUILD:-build}"
win_build="${WIN_BUILD:-build-win}"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target kav-lngc kav-dc-sim demo_firmware test_wine \
  test_wine_installer >/dev/null
status=0
bash scripts/windows-build.sh "$build" "$win_build" "${1:-}" || status=$?
if [ "$status" = 3 ]; then
  exit 0  # skipped, and said so
fi
[ "$status" = 0 ] || exit "$status"
(cd "$win_build" && cpack -G ZIP -B "$PWD" >/dev/null)
zip="$win_build/kav-update-$(cat "$win_build/version.txt")-windows-x64.zip"
setup="$(bash scripts/windows-installer.sh "$win_build")"

source "$repo/scripts/wine-prefix.sh"
(cd "$work" && unzip -q "$repo/$zip")
export KAV_WINE_PROGRAM
KAV_WINE_PROGRAM="$(echo "$work"/kav-update-*-windows-x64/kav-update.exe)"
echo "Windows tests: $(basename "$zip") under $(wine --version) in a fresh prefix"
# The window's pictures go beside the zip; `make screenshot-windows` puts them into docs/.
export KAV_SCREENSHOTS="$repo/$win_build"
status=0
xvfb-run -a -s "-screen 0 1024x768x24" "$build/tests/test_wine" || status=1
echo "Windows installer tests: $(basename "$setup")"
KAV_WINE_SETUP="$setup" xvfb-run -a -s "-screen 0 1024x768x24" "$build/tests/test_wine_installer" || status=1
exit "$status"
