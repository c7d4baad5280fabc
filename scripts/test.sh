#!/usr/bin/env bash
# Runs the whole test suite: the native build with every unit and end-to-end
# test (the benchmarks are built, not run), then the 32-bit Windows module
# under wine.
# Usage: scripts/test.sh            (build directories: build/, build-win/)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}

step() { printf '\n== %s\n' "$*"; }

step "native build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVRINE_WERROR=ON -DTAVRINE_BUILD_BENCH=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure --timeout 1200

step "32-bit Windows module (MinGW, tests under wine)"
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=windows/toolchain-i686-mingw.cmake >/dev/null
cmake --build build-win -j "$jobs"
ctest --test-dir build-win --output-on-failure --timeout 1200

step "all tests passed"
