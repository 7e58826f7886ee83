#!/usr/bin/env bash
# The whole suite once more, built with AddressSanitizer and UndefinedBehaviorSanitizer (part of `make test`).
# Reports go to files, so that one from a process whose exit status no test looks at (the simulated DC, a
# program a test starts and kills) fails the run as well.
# Built with clang, whose runtime also writes the undefined-behaviour reports to the report files.
# Usage: scripts/sanitize.sh [BUILD_DIR]   (default: build-san)
set -euo pipefail

src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$src/build-san}"
jobs="${JOBS:-$(nproc)}"

cmake -S "$src" -B "$build" -DCMAKE_CXX_COMPILER="${CXX_SANITIZE:-clang++-14}" -DCMAKE_BUILD_TYPE=Sanitize -DCMAKE_CXX_FLAGS_SANITIZE="-O1 -g" \
  -DKAV_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$jobs"

reports="$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="log_path=$reports/asan:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$src/tests/lsan.supp:print_suppressions=0"

status=0
# The fuzz smokes are left out: their targets carry both sanitizers already.
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" -LE fuzz) || status=$?

if compgen -G "$reports/*" >/dev/null; then
  for report in "$reports"/*; do
    echo "==== $report" >&2
    cat "$report" >&2
  done
  echo "sanitize: the sanitizers reported the faults above" >&2
  exit 1
fi
[ "$status" -eq 0 ] || { echo "sanitize: tests failed in the sanitizer build" >&2; exit "$status"; }
echo "sanitize: passed, no reports"
