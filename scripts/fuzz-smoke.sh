#!/usr/bin/env bash
# Builds the firmware decoder fuzz target with clang's libFuzzer and runs a short smoke over a small corpus.
# Usage: scripts/fuzz-smoke.sh [BUILD_DIR]   (default: build; the target goes into BUILD_DIR/fuzz)
# Exits non-zero when the build fails or the fuzzer finds a crash.
set -euo pipefail

src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(mkdir -p "${1:-$src/build}" && cd "${1:-$src/build}" && pwd)"
out="$build/fuzz"
cxx="${CXX_FUZZ:-clang++-14}"
mkdir -p "$out"

if ! command -v "$cxx" >/dev/null; then
  echo "fuzz-smoke: $cxx not found (packaging/install-deps.sh installs clang-14 and libclang-rt-14-dev)" >&2
  exit 1
fi

target="$out/fuzz_firmware_decoder"
sources=("$src/tests/fuzz/fuzz_firmware_decoder.cpp" "$src/firmware/fwr_format.cpp")
rebuild=0
[ -x "$target" ] || rebuild=1
for f in "${sources[@]}" "$src/firmware/fwr_format.h" "$0"; do
  [ "$f" -nt "$target" ] && rebuild=1
done
if [ "$rebuild" -eq 1 ]; then
  "$cxx" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$src" "${sources[@]}" -o "$target.tmp"
  mv "$target.tmp" "$target"
fi

# A fresh corpus every run: libFuzzer adds what it finds to it.
corpus="$out/corpus"
rm -rf "$corpus"
mkdir -p "$corpus"
[ -f "$build/KAV.1F.FWR" ] && cp "$build/KAV.1F.FWR" "$corpus/demo.fwr"
if [ -x "$build/kav-fwr" ]; then
  "$build/kav-fwr" pack --out "$corpus/two-images.fwr" --demo-image 3 --image2 "$corpus/demo.fwr" \
    --seed 7 >/dev/null 2>&1 || true
  printf 'abcdefghijklmnopqrstuvwxyz0123456789' >"$out/image2.bin"
  "$build/kav-fwr" pack --out "$corpus/second-only.fwr" --image2 "$out/image2.bin" --record-key random \
    >/dev/null 2>&1 || true
fi
# A bare header: key bytes 0, memory size 1, strings "A" and "B", no blocks.
{
  head -c 7 /dev/zero
  printf '\001'
  head -c 24 /dev/zero
  printf 'A\0B\0'
  head -c 95 /dev/zero
} >"$corpus/header-only.fwr"
printf 'x' >"$corpus/one-byte.fwr"

cd "$out"
"$target" -runs="${FUZZ_RUNS:-20000}" -max_len=4096 -timeout=10 -artifact_prefix="$out/" \
  -print_final_stats=1 "$corpus" 2>"$out/fuzz.log" || {
  tail -n 40 "$out/fuzz.log" >&2
  echo "fuzz-smoke: the decoder fuzz target failed; see $out/fuzz.log and the crash-* file in $out" >&2
  exit 1
}
grep -E '^stat::number_of_executed_units' "$out/fuzz.log" || true
echo "fuzz-smoke: passed"
