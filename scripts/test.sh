#!/usr/bin/env bash
# Runs the whole test suite:
#   native    release build, every unit and end-to-end test
#   lint      clang-tidy's bugprone and performance checks on the library and tool
#   windows   the 32-bit Windows module (MinGW), its export table and host test under wine
#   sanitize  the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer,
#             and the concurrency tests under ThreadSanitizer
#   fuzz      every libFuzzer target for a bounded time (FUZZ_SECONDS each, default 60)
# Usage: scripts/test.sh [stage...]   (no stage: all of them, in this order)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(native lint windows sanitize fuzz)

step() { printf '\n== %s\n' "$*"; }
configure() {  # configure DIR [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DTAVRINE_WERROR=ON "$@" >/dev/null
}

native() {
  step "native build and tests"
  configure build -DCMAKE_BUILD_TYPE=Release -DTAVRINE_BUILD_BENCH=ON
  cmake --build build -j "$jobs"
  ctest --test-dir build -j "$jobs" --output-on-failure --timeout 1500
}

lint() {
  step "clang-tidy (bugprone, performance) on src/ and cli/"
  [ -f build/compile_commands.json ] || native
  run-clang-tidy-14 -p build -quiet -j "$jobs" '/(src|cli)/' >build/clang-tidy.log 2>&1 || true
  if grep -E '(warning|error): ' build/clang-tidy.log; then
    echo "clang-tidy found the problems above" >&2
    return 1
  fi
  echo "clang-tidy: clean"
}

windows() {
  step "32-bit Windows module (MinGW, tests under wine)"
  # The module's streams are compared with the native library's.
  if [ ! -x build/tests/stream_dump ]; then
    configure build -DCMAKE_BUILD_TYPE=Release
    cmake --build build -j "$jobs" --target stream_dump
  fi
  configure build-win -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=windows/toolchain-i686-mingw.cmake \
    -DTAVRINE_NATIVE_BUILD_DIR="$PWD/build"
  cmake --build build-win -j "$jobs"
  ctest --test-dir build-win --output-on-failure --timeout 1500
}

sanitize() {
  step "test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
  configure build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRINE_SANITIZE=address,undefined
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan -j "$jobs" --output-on-failure --timeout 3000

  step "concurrency tests under ThreadSanitizer"
  configure build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRINE_SANITIZE=thread
  cmake --build build-tsan -j "$jobs"
  TSAN_OPTIONS=halt_on_error=1 \
    ctest --test-dir build-tsan -j "$jobs" --output-on-failure --timeout 3000 -L concurrency
}

fuzz() {
  step "fuzz targets (libFuzzer, ASan + UBSan), ${FUZZ_SECONDS:-60} s each"
  configure build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DTAVRINE_BUILD_FUZZ=ON -DTAVRINE_BUILD_TESTS=OFF -DTAVRINE_BUILD_TOOLS=ON \
    -DTAVRINE_SANITIZE=address,undefined
  cmake --build build-fuzz -j "$jobs" --target fuzz_all
  scripts/fuzz.sh build-fuzz "${FUZZ_SECONDS:-60}"
}

for stage in "${stages[@]}"; do
  case "$stage" in
    native|lint|windows|sanitize|fuzz) "$stage" ;;
    *) echo "unknown stage: $stage (native, lint, windows, sanitize, fuzz)" >&2; exit 2 ;;
  esac
done
step "all tests passed (${stages[*]})"
