#!/usr/bin/env bash
# Builds the package format code natively with libFuzzer, AddressSanitizer and UBSan and fuzzes it:
#   package_reader_fuzzer     arbitrary bytes as a package, through the wizard's reader
#   package_roundtrip_fuzzer  packages written from fuzzed entries (some damaged), read back by
#                             the reader and by dictpack's list, verify and extract
# Before fuzzing it builds dictpack natively from the same sources and checks a create, list,
# verify, extract round trip.
#   scripts/fuzz.sh [SECONDS]      each fuzzer runs SECONDS (default 60); e.g. scripts/fuzz.sh 1800
# Known crashers in fuzz/regressions/ are replayed first. New crashes land in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_TO_RUN="${1:-60}"
OUT="${QB_FUZZ_DIR:-build-fuzz}"
mkdir -p "$OUT/corpus" "$OUT/corpus-roundtrip" "$OUT/scratch"
WARN=(-std=c++17 -Wall -Wextra -Werror -I.)
FLAGS=("${WARN[@]}" -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
FORMAT=(package/PackageReader.cpp package/PackageWriter.cpp package/EntryNames.cpp)
DICTPACK=(tools/dictpack/DictPackCore.cpp tools/dictpack/DictPackFiles.cpp tools/dictpack/Utf.cpp dictver/DictDate.cpp)

clang++ "${WARN[@]}" -O1 -g -fsanitize=address,undefined -fno-sanitize-recover=undefined \
  fuzz/NativeDictPack.cpp "${FORMAT[@]}" "${DICTPACK[@]}" -o "$OUT/dictpack"
clang++ "${FLAGS[@]}" fuzz/PackageReaderFuzzer.cpp "${FORMAT[@]}" -o "$OUT/package_reader_fuzzer"
clang++ "${FLAGS[@]}" fuzz/PackageRoundTripFuzzer.cpp "${FORMAT[@]}" "${DICTPACK[@]}" -o "$OUT/package_roundtrip_fuzzer"

# The native dictpack makes the same package bytes as the Windows one and reads them back.
SMOKE="$OUT/scratch/smoke"; rm -rf "$SMOKE"; mkdir -p "$SMOKE/in"
head -c 5000 /dev/urandom > "$SMOKE/in/abc.dic"; printf 'tiny' > "$SMOKE/in/xyz.dip"
"$OUT/dictpack" create "$SMOKE/p.dir" --date 2024-05-01 --name ABC "$SMOKE/in/abc.dic" \
  --date 2023-01-02 "$SMOKE/in/xyz.dip" >/dev/null 2>&1
"$OUT/dictpack" verify "$SMOKE/p.dir" >/dev/null
"$OUT/dictpack" list "$SMOKE/p.dir" | grep -q 'abc'
"$OUT/dictpack" extract "$SMOKE/p.dir" "$SMOKE/out" >/dev/null
for f in abc.dic xyz.dip; do cmp "$SMOKE/in/$f" "$SMOKE/out/$f"; done
echo "native dictpack: create, list, verify, extract ok"

export QB_FUZZ_SCRATCH="$OUT/scratch"
run() {
  local fuzzer="$1" corpus="$2"; shift 2
  if compgen -G "fuzz/regressions/*" >/dev/null; then
    "$OUT/$fuzzer" fuzz/regressions/* 2>&1 | tail -n 1
  fi
  "$OUT/$fuzzer" -max_total_time="$SECONDS_TO_RUN" -max_len=16384 -timeout=10 \
    -artifact_prefix="$OUT/$fuzzer-" -print_final_stats=1 "$corpus" "$@" 2>&1 | tail -n 12
}
run package_reader_fuzzer "$OUT/corpus" fuzz/corpus
run package_roundtrip_fuzzer "$OUT/corpus-roundtrip"
