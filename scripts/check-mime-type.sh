#!/usr/bin/env bash
# Fails unless the installed firmware file type works: update-mime-database reads the package and takes *.fwr, in
# any case, for it, and the desktop entry (which must take the file as its argument) and the metainfo name it.
# Usage: scripts/check-mime-type.sh PREFIX
set -euo pipefail

prefix="$1"
id=org.kavdive.FirmwareUpdate
type=application/x-kav-firmware
fail() { echo "check-mime-type: $*" >&2; exit 1; }

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/packages"
cp "$prefix/share/mime/packages/$id.xml" "$scratch/packages/"
# It says where the database is not looked for, and on a damaged file writes nothing for it.
update-mime-database "$scratch" 2>/dev/null
# One pattern, matched in any case: a case-sensitive one would be kept with ":cs".
globs="$(grep ":$type:" "$scratch/globs2" || true)"
[[ $globs == "50:$type:*.fwr" ]] || fail "*.fwr in any case is not $type: ${globs:-no pattern}"
grep -q "<comment>KAV firmware file</comment>" "$scratch/$type.xml" || fail "$type has no comment"
grep -qx "$type:[a-z-]*" "$scratch/generic-icons" || fail "$type has no generic icon"

desktop="$prefix/share/applications/$id.desktop"
grep -qx "MimeType=$type;" "$desktop" || fail "$desktop does not open $type"
grep -qE "^Exec=kav-update %[fF]$" "$desktop" || fail "$desktop does not pass the file"
grep -q "<mediatype>$type</mediatype>" "$prefix/share/metainfo/$id.metainfo.xml" ||
  fail "the metainfo does not name $type"
echo "$id.xml: *.fwr is $type, which the desktop entry opens"
