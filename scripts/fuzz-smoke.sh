#!/usr/bin/env bash
# Runs libFuzzer targets over their seed corpora (tests/fuzz/corpus/<target>) for a number of seconds each.
# Usage: scripts/fuzz-smoke.sh SECONDS TARGET...   (the targets come from the sanitizer build; `make fuzz`)
# The seeds are copied to a scratch corpus beside the target, so what the fuzzer finds stays out of the
# repository. Exits non-zero at the first target that crashes, leaks, hangs or breaks one of its checks; the
# input that did it is kept there as crash-*, leak-* or timeout-*.
set -euo pipefail

src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="$1"
shift
for target in "$@"; do
  name="$(basename "$target")"
  work="$(dirname "$target")/$name.work"
  rm -rf "$work"
  mkdir -p "$work/corpus"
  cp "$src/tests/fuzz/corpus/$name/"* "$work/corpus/"
  if ! "$target" -max_total_time="$seconds" -timeout=20 -max_len=4096 -artifact_prefix="$work/" \
    -print_final_stats=1 "$work/corpus" >"$work/log" 2>&1; then
    tail -n 40 "$work/log" >&2
    echo "fuzz-smoke: $name failed; see $work" >&2
    exit 1
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")"
  echo "fuzz-smoke: $name: ${runs:-?} inputs in ${seconds}s, passed"
done
