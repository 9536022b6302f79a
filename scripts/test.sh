#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine in a private session.
#   scripts/test.sh [CTEST-ARG...]      e.g. scripts/test.sh -R package
# Where this machine runs 32-bit code only through qemu-i386 (scripts/run32.sh), or with
# QUILLBOX_EMULATE_32BIT=1, each test program may run three times as long.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
. scripts/run32.sh
BUILD="${QB_BUILD_DIR:-build}"
timeout=600
if qb_forced || [ "$(qb_32bit_state)" != native ]; then timeout=1800; fi
cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DQB_TEST_TIMEOUT="$timeout" >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
# The keeper holds the session's desktop from the first test program to the last, so Wine does
# not end and restart it between programs (tests/support/SessionKeeper.cpp says why).
scripts/wine-session.sh bash -c '
  echo "test: 32-bit code: $QUILLBOX_32BIT"
  wine "$1/bin/session_keeper.exe" </dev/null >/dev/null 2>&1 &
  shift; exec "$@"' _ "$BUILD" ctest --test-dir "$BUILD" --output-on-failure "$@"
