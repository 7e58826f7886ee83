# Sourced by the Windows scripts: a fresh Wine prefix in a scratch folder ($work), quiet, with Windows' interface
# fonts (which a fresh prefix lacks) drawn with DejaVu Sans; it goes, with every Wine process of it, when the
# script exits.
work="$(mktemp -d)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEPATH
remove_wine_prefix() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap remove_wine_prefix EXIT
wineboot -i >/dev/null 2>&1
for font in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Segoe UI"; do
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /d "DejaVu Sans" /f >/dev/null 2>&1
done
wineserver -w
