#!/usr/bin/env bash
# Lines of C++ in tests/ over the lines of C++ everywhere else (tools included).
set -euo pipefail
cd "$(dirname "$0")/.."
count() { git ls-files -- "$@" | xargs cat | wc -l; }
tests=$(count 'tests/*.cpp' 'tests/*.h')
rest=$(count '*.cpp' '*.h' ':!tests/')
awk -v t="$tests" -v r="$rest" 'BEGIN { printf "tests %d / code %d = %.3f\n", t, r, t / r }'
