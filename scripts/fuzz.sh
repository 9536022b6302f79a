#!/usr/bin/env bash
# Builds the package format code natively with libFuzzer, AddressSanitizer and UBSan and fuzzes it:
#   package_reader_fuzzer     arbitrary bytes as a package, through the wizard's reader
#   package_roundtrip_fuzzer  packages written from fuzzed entries, sealed or not (some damaged),
#                             read back by the reader and by dictpack's list, verify, extract, seal
# Before fuzzing it builds dictpack natively from the same sources and checks a create, list,
# verify, extract round trip and a seal. Hashing is OpenSSL's libcrypto here (CNG on Windows).
#   scripts/fuzz.sh [SECONDS]      each fuzzer runs SECONDS (default 60); e.g. scripts/fuzz.sh 1800
# Known crashers in fuzz/regressions/ are replayed first. New crashes land in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_TO_RUN="${1:-60}"
OUT="${QB_FUZZ_DIR:-build-fuzz}"
mkdir -p "$OUT/corpus" "$OUT/corpus-roundtrip" "$OUT/scratch"
WARN=(-std=c++17 -Wall -Wextra -Werror -I.)
FLAGS=("${WARN[@]}" -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
FORMAT=(package/PackageReader.cpp package/PackageWriter.cpp package/EntryNames.cpp package/PackageSeal.cpp)
DICTPACK=(tools/dictpack/DictPackCore.cpp tools/dictpack/DictPackFiles.cpp tools/dictpack/Utf.cpp dictver/DictDate.cpp)

clang++ "${WARN[@]}" -O1 -g -fsanitize=address,undefined -fno-sanitize-recover=undefined \
  fuzz/NativeDictPack.cpp "${FORMAT[@]}" "${DICTPACK[@]}" -lcrypto -o "$OUT/dictpack"
clang++ "${FLAGS[@]}" fuzz/PackageReaderFuzzer.cpp "${FORMAT[@]}" -lcrypto -o "$OUT/package_reader_fuzzer"
clang++ "${FLAGS[@]}" fuzz/PackageRoundTripFuzzer.cpp "${FORMAT[@]}" "${DICTPACK[@]}" -lcrypto -o "$OUT/package_roundtrip_fuzzer"

# The native dictpack makes the same package bytes as the Windows one and reads them back.
SMOKE="$OUT/scratch/smoke"; rm -rf "$SMOKE"; mkdir -p "$SMOKE/in"
head -c 5000 /dev/urandom > "$SMOKE/in/abc.dic"; printf 'tiny' > "$SMOKE/in/xyz.dip"
"$OUT/dictpack" create "$SMOKE/p.dir" --date 2024-05-01 --name ABC "$SMOKE/in/abc.dic" \
  --date 2023-01-02 "$SMOKE/in/xyz.dip" >/dev/null 2>&1
"$OUT/dictpack" verify "$SMOKE/p.dir" >/dev/null
"$OUT/dictpack" list "$SMOKE/p.dir" | grep -q 'abc'
"$OUT/dictpack" list "$SMOKE/p.dir" | grep -q '^sealed: '
"$OUT/dictpack" extract "$SMOKE/p.dir" "$SMOKE/out" >/dev/null
for f in abc.dic xyz.dip; do cmp "$SMOKE/in/$f" "$SMOKE/out/$f"; done
# The seal holds the SHA-256 any other tool computes; seal on the unsealed package makes the same bytes.
# Behind the last entry's digest: the header's (of the first 32 bytes), the directory's, the trailer.
[ "$(tail -c 112 "$SMOKE/p.dir" | head -c 32 | od -An -tx1 | tr -d ' \n')" = "$(sha256sum < "$SMOKE/in/xyz.dip" | cut -c1-64)" ]
[ "$(tail -c 80 "$SMOKE/p.dir" | head -c 32 | od -An -tx1 | tr -d ' \n')" = "$(head -c 32 "$SMOKE/p.dir" | sha256sum | cut -c1-64)" ]
"$OUT/dictpack" create "$SMOKE/old.dir" --no-seal --date 2024-05-01 --name ABC "$SMOKE/in/abc.dic" \
  --date 2023-01-02 "$SMOKE/in/xyz.dip" >/dev/null 2>&1
"$OUT/dictpack" list "$SMOKE/old.dir" | grep -q '^not sealed$'
"$OUT/dictpack" seal "$SMOKE/old.dir" >/dev/null
cmp "$SMOKE/old.dir" "$SMOKE/p.dir"
printf 'T' | dd of="$SMOKE/old.dir" bs=1 seek=5400 conv=notrunc status=none  # xyz.dip's first byte, 't'
if "$OUT/dictpack" verify "$SMOKE/old.dir" 2>"$SMOKE/why"; then echo "a changed sealed entry verifies" >&2; exit 1; fi
grep -q 'entry 1 (xyz.dip) does not match the seal' "$SMOKE/why"
echo "native dictpack: create, list, verify, extract, seal ok"

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
