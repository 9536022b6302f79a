#!/usr/bin/env bash
# Builds the package reader natively with libFuzzer, AddressSanitizer and UBSan and fuzzes it.
#   scripts/fuzz.sh [SECONDS]      default 60; e.g. scripts/fuzz.sh 3600 for a long run
# Known crashers in fuzz/regressions/ are replayed first. New crashes land in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_TO_RUN="${1:-60}"
OUT=build-fuzz
mkdir -p "$OUT/corpus" "$OUT/scratch"
FLAGS=(-std=c++17 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
SOURCES=(package/PackageReader.cpp package/PackageWriter.cpp package/EntryNames.cpp)
clang++ "${FLAGS[@]}" fuzz/PackageReaderFuzzer.cpp "${SOURCES[@]}" -o "$OUT/package_reader_fuzzer"
export QB_FUZZ_SCRATCH="$OUT/scratch"
if compgen -G "fuzz/regressions/*" >/dev/null; then
  "$OUT/package_reader_fuzzer" fuzz/regressions/* 2>&1 | tail -n 1
fi
"$OUT/package_reader_fuzzer" -max_total_time="$SECONDS_TO_RUN" -max_len=16384 -timeout=10 \
  -artifact_prefix="$OUT/" -print_final_stats=1 "$OUT/corpus" fuzz/corpus 2>&1 | tail -n 12
