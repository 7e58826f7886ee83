#!/usr/bin/env bash
# Fails when a long option that `PROGRAM --help` or `PROGRAM COMMAND --help` lists has no entry in the manual
# page: an entry is the tag line after a .TP.
# Usage: scripts/check-man-page.sh PAGE PROGRAM [COMMAND...]
set -euo pipefail

page="$1"
program="$2"
shift 2
tags="$(awk 'tag { print; tag = 0 } /^\.TP/ { tag = 1 }' "$page" | sed 's/\\-/-/g')"
missing=0
for command in "" "$@"; do
  help="$("$program" $command --help)" || { echo "${program##*/}${command:+ $command} --help failed" >&2; exit 1; }
  # Qt's option lines: "  -h, --help  ...", "  --out <FILE>  ...".
  options="$(sed -nE 's/^  (-[[:alnum:]], )?(--[[:alnum:]-]+).*/\2/p' <<<"$help")"
  if [[ -z $options ]]; then
    echo "${program##*/}${command:+ $command} --help lists no options" >&2
    exit 1
  fi
  for option in $options; do
    if ! grep -qE -- "(^|[^[:alnum:]-])$option([^[:alnum:]-]|\$)" <<<"$tags"; then
      echo "$page: no entry for $option (${program##*/}${command:+ $command} --help)" >&2
      missing=$((missing + 1))
    fi
  done
done
if ((missing > 0)); then
  exit 1
fi
echo "${page##*/}: every option has its entry"
