#!/usr/bin/env bash
# The second build of `make test`: every program and test with AddressSanitizer and UndefinedBehaviorSanitizer,
# built with clang, which also builds the libFuzzer targets there. Reports go to files, so that one from a
# process whose exit status no test looks at (the simulated DC, a program a test kills) fails the run too.
# Usage: scripts/sanitize.sh [--fuzz SECONDS] [BUILD_DIR]   (default: build-san)
#   without --fuzz: the whole suite, fuzz smokes included; with it: each fuzz target for SECONDS (make fuzz).
set -euo pipefail

src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
fuzz_seconds=""
if [ "${1:-}" = "--fuzz" ]; then
  fuzz_seconds="$2"
  shift 2
fi
build="${1:-$src/build-san}"
jobs="${JOBS:-$(nproc)}"

cmake -S "$src" -B "$build" -DCMAKE_CXX_COMPILER="${CXX_SANITIZE:-clang++-14}" -DCMAKE_BUILD_TYPE=Sanitize \
  -DCMAKE_CXX_FLAGS_SANITIZE="-O1 -g" -DKAV_SANITIZE=ON >/dev/null

reports="$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="log_path=$reports/asan:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1"
export KAV_TEST_LNG="$build/FirmwareUpdate.lng"

status=0
if [ -n "$fuzz_seconds" ]; then
  cmake --build "$build" -j "$jobs" --target fuzz_targets
  mapfile -t targets < <(find "$build/tests/fuzz" -maxdepth 1 -type f -executable -name "fuzz_*" | sort)
  bash "$src/scripts/fuzz-smoke.sh" "$fuzz_seconds" "${targets[@]}" || status=$?
else
  cmake --build "$build" -j "$jobs"
  (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs") || status=$?
fi

if compgen -G "$reports/*" >/dev/null; then
  for report in "$reports"/*; do
    echo "==== $report" >&2
    cat "$report" >&2
  done
  echo "sanitize: the sanitizers reported the faults above" >&2
  exit 1
fi
[ "$status" -eq 0 ] || { echo "sanitize: failed" >&2; exit "$status"; }
echo "sanitize: passed, no reports"
