#!/usr/bin/env bash
# make mutate: each mutant of tests/mutants.txt planted alone into a scratch copy of the tree, rebuilt
# incrementally, and the tests that cover it run; one row a mutant (killed by which test, or SURVIVED, and the
# seconds it took), then the totals. A mutant the suite cannot tell from the code (marked `equivalent:` in the data
# file, with the reason) is listed, not run.
# Usage: scripts/mutate.sh [SCRATCH_DIR]   (default: build-mutate; MUTANTS=pattern keeps the ids that match)
set -euo pipefail

src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
scratch="${1:-$src/build-mutate}"
jobs="${JOBS:-$(nproc)}"
pattern="${MUTANTS:-.}"
tree="$scratch/tree"
build="$scratch/build"
table="$scratch/table.txt"

# The tracked files, their times kept, so that the next run rebuilds only what changed since.
mkdir -p "$tree"
git -C "$src" ls-files -z | (cd "$src" && xargs -0 cp -pu --parents -t "$tree")
cmake -S "$tree" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
echo "mutate: building the scratch tree ($build)"
cmake --build "$build" -j "$jobs" >"$scratch/build.log" 2>&1 || { tail -n 30 "$scratch/build.log"; exit 1; }

# The data file as records: id, file, from, to, tests, why, equivalent; one field a line, a record a block.
records="$scratch/records"
rm -rf "$records" && mkdir -p "$records"
awk -v dir="$records" '
  /^== / { n++; f = sprintf("%s/%04d", dir, n); print "id: " substr($0, 4) > f; next }
  /^#/ || n == 0 { next }
  /^[a-z]+: / || /^[a-z]+:$/ { print > f }
' "$src/tests/mutants.txt"

field() { sed -n "s/^$1: \{0,1\}//p" "$2" | head -n 1; }

# Each Qt Test program's test: its environment and command, one line each (NAME<TAB>ENV;ENV<TAB>COMMAND ARG...),
# so that a killed mutant can be told which test functions caught it.
(cd "$build" && ctest --show-only=json-v1) | python3 -c '
import json, sys
for t in json.load(sys.stdin)["tests"]:
    command = t.get("command") or []
    if command and "/tests/test_" in command[0]:
        env = [p["value"] for p in t.get("properties", []) if p["name"] == "ENVIRONMENT"]
        print(t["name"], ";".join(env[0] if env else []), " ".join(command), sep="\t")
' >"$scratch/qt-tests.tsv"

# The functions of one killing test that fail on their own: "test(function,function)", or the test alone.
functions_that_fail() {
  local line env command program args function failed=()
  line=$(grep -P "^$1\t" "$scratch/qt-tests.tsv") || { echo "$1"; return; }
  IFS=$'\t' read -r _ env command <<<"$line"
  read -r program args <<<"$command"
  # shellcheck disable=SC2086 # the environment, one word a variable
  [ -n "$args" ] || args=$(env ${env//;/ } "$program" -functions 2>/dev/null | sed -n 's/()$//p' | paste -sd' ')
  for function in $args; do
    # shellcheck disable=SC2086 # the environment, one word a variable
    (cd "$build" && env ${env//;/ } timeout 300 "$program" "$function" >/dev/null 2>&1) || failed+=("$function")
  done
  local IFS=,
  echo "$1(${failed[*]})"
}

# The build targets that the tests matching a ctest regex run: only those are rebuilt for a mutant.
targets_for() {
  (cd "$build" && ctest -N -R "$1") | sed -nE 's/^ *Test +#[0-9]+: ([^ ]+)$/\1/p' | while read -r name; do
    case $name in
      test_e2e_cli_*) echo test_e2e_cli ;;
      test_e2e_faults_*) echo test_e2e_faults ;;
      golden_traces) echo kav-update kav-dc-sim kav-fwr ;;
      man_page_*) echo "${name#man_page_}" ;;
      test_*) echo "$name" ;;
      *) echo all ;;
    esac
  done | tr ' ' '\n' | sort -u | paste -sd' '
}

killed=0 survived=0 equivalent=0 broken=0 started=$(date +%s)
: >"$table"
row() { printf '%-34s %-44s %-36s %5ss\n' "$1" "$2" "$3" "$4" | tee -a "$table"; }
printf '%-34s %-44s %-36s %6s\n' mutant file result time | tee -a "$table"
for record in "$records"/*; do
  id=$(field id "$record")
  [[ $id =~ $pattern ]] || continue
  file=$(field file "$record")
  tests=$(field tests "$record")
  if [ -n "$(field equivalent "$record")" ]; then
    equivalent=$((equivalent + 1))
    row "$id" "$file" "equivalent: $(field equivalent "$record")" 0
    continue
  fi
  t0=$(date +%s)
  target="$tree/$file"
  count=$(FROM="$(field from "$record")" perl -0ne 'print scalar(() = /\Q$ENV{FROM}\E/g)' "$target")
  if [ "$count" != 1 ]; then
    broken=$((broken + 1))
    row "$id" "$file" "BAD DATA: 'from' found $count times" 0
    continue
  fi
  cp -p "$target" "$scratch/original"
  FROM="$(field from "$record")" TO="$(field to "$record")" perl -0pi -e 's/\Q$ENV{FROM}\E/$ENV{TO}/' "$target"
  result=SURVIVED
  targets=$(targets_for "${tests:-.}")
  [[ " $targets " == *" all "* || -z $targets ]] && targets=all
  [[ $file == tools/lngc/* ]] && targets=all  # the text database is built by the whole build only
  # shellcheck disable=SC2086 # one word a target
  if ! cmake --build "$build" -j "$jobs" --target $targets >"$scratch/mutant.log" 2>&1; then
    result="DOES NOT BUILD"
    broken=$((broken + 1))
  else
    failed=$(cd "$build" && QT_QPA_PLATFORM=offscreen KAV_TEST_LNG="$build/FirmwareUpdate.lng" \
      ctest -R "${tests:-.}" -j "$jobs" --timeout 300 2>&1 |
      sed -nE 's/^[[:space:]]*[0-9]+ - ([^ ]+) \((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception).*/\1/p' |
      paste -sd, -) || true
    if [ -n "$failed" ]; then
      by=()
      for name in ${failed//,/ }; do by+=("$(functions_that_fail "$name")"); done
      result="killed by $(IFS=' '; echo "${by[*]}")"
      killed=$((killed + 1))
    else
      survived=$((survived + 1))
    fi
  fi
  # The original back, newer than what the mutant built, so that the next build takes it.
  cp "$scratch/original" "$target"
  touch "$target"
  row "$id" "$file" "$result" $(($(date +%s) - t0))
done
# Which test functions caught how many mutants, and how many no other test caught: a function that catches
# nothing alone is where the suite may prove the same thing twice.
grep -o 'killed by .*[^ ]' "$table" | sed 's/^killed by //; s/ \{2,\}.*//' | awk '
  { n = 0
    for (i = 1; i <= NF; i++) {
      if (match($i, /\(.*\)$/)) {
        test = substr($i, 1, RSTART - 1); before = n
        split(substr($i, RSTART + 1, RLENGTH - 2), fs, ",")
        for (f in fs) if (fs[f] != "") who[++n] = test "::" fs[f]
        if (n == before) who[++n] = test  # caught only when its functions run together
      } else who[++n] = $i
    }
    for (k = 1; k <= n; k++) { total[who[k]]++; if (n == 1) alone[who[k]]++ }
  }
  END { for (w in total) printf "catches: %-60s %3d mutants, %3d alone\n", w, total[w], alone[w] }
' | sort | tee -a "$table"
total=$(($(date +%s) - started))
echo "mutate: $killed killed, $survived survived, $equivalent equivalent, $broken not run (data or build)," \
  "$((total / 60)) min $((total % 60)) s on $jobs jobs" | tee -a "$table"
[ "$survived" -eq 0 ] && [ "$broken" -eq 0 ]
