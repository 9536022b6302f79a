#!/usr/bin/env bash
# Builds the speed benchmark and runs it in a private Wine session on its own display;
# prints the figures side by side (docs/speed.md explains them).
#   scripts/bench.sh [--runs N]      default 3 (medians of 3)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
BUILD="${QB_BUILD_DIR:-build-bench}"
cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 --target qb_bench >/dev/null
scripts/wine-session.sh wine "$BUILD/bench/qb_bench.exe" "$@"
