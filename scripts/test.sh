#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine in a private session.
#   scripts/test.sh [CTEST-ARG...]      e.g. scripts/test.sh -R package
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
BUILD="${QB_BUILD_DIR:-build}"
cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
scripts/wine-session.sh ctest --test-dir "$BUILD" --output-on-failure "$@"
