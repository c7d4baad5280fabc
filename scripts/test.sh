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
# require TOOL...: the stage fails, naming them, when tools it needs are missing.
require() {
  local tool missing=()
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "missing: ${missing[*]} (scripts/install-deps.sh installs what the stages need)" >&2
    exit 1
  fi
}
# The external corpus is optional; say whether its tests ran.
corpus_note() {
  if [ -n "${TAVRINE_CORPUS_DIR:-}" ]; then
    echo "corpus tests ran on $TAVRINE_CORPUS_DIR"
  else
    echo "corpus tests skipped: set TAVRINE_CORPUS_DIR to a corpus directory to run them"
  fi
}
configure() {  # configure DIR [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DTAVRINE_WERROR=ON "$@" >/dev/null
}

native() {
  step "native build and tests"
  require cmake ninja ctest c++ cc
  configure build -DCMAKE_BUILD_TYPE=Release -DTAVRINE_BUILD_BENCH=ON
  cmake --build build -j "$jobs"
  ctest --test-dir build -j "$jobs" --output-on-failure --no-tests=error --timeout 1500
  corpus_note
}

lint() {
  step "clang-tidy (bugprone, performance) on src/ and cli/"
  require run-clang-tidy-14 clang-tidy-14
  [ -f build/compile_commands.json ] || native
  local files
  files=$(grep -cE '"file": ".*/(src|cli)/' build/compile_commands.json || true)
  [ "${files:-0}" -gt 0 ] || { echo "no library or tool sources in build/compile_commands.json" >&2; exit 1; }
  # .clang-tidy makes every finding an error, so the exit status tells.
  if ! run-clang-tidy-14 -p build -quiet -j "$jobs" '/(src|cli)/' \
       >build/clang-tidy.log 2>&1 || grep -E '(warning|error): ' build/clang-tidy.log; then
    grep -E '(warning|error): ' build/clang-tidy.log || tail -n 20 build/clang-tidy.log
    echo "clang-tidy failed or found the problems above" >&2
    exit 1
  fi
  echo "clang-tidy: $files source files clean"
}

windows() {
  step "32-bit Windows module (MinGW, tests under wine)"
  require i686-w64-mingw32-g++ wine
  # The module's streams are compared with the native library's, on samples
  # that the native build generates.
  if [ ! -x build/tests/stream_dump ] || [ ! -x build/tests/support/tavrine-datagen ]; then
    configure build -DCMAKE_BUILD_TYPE=Release
    cmake --build build -j "$jobs" --target stream_dump tavrine-datagen
  fi
  configure build-win -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=windows/toolchain-i686-mingw.cmake \
    -DTAVRINE_NATIVE_BUILD_DIR="$PWD/build"
  cmake --build build-win -j "$jobs"
  ctest --test-dir build-win --output-on-failure --no-tests=error --timeout 1500
}

sanitize() {
  step "test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
  configure build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRINE_SANITIZE=address,undefined
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan -j "$jobs" --output-on-failure --no-tests=error --timeout 3000

  step "concurrency tests under ThreadSanitizer"
  configure build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRINE_SANITIZE=thread
  cmake --build build-tsan -j "$jobs"
  TSAN_OPTIONS=halt_on_error=1 \
    ctest --test-dir build-tsan -j "$jobs" --output-on-failure --no-tests=error --timeout 3000 \
      -L concurrency
}

fuzz() {
  step "fuzz targets (libFuzzer, ASan + UBSan), ${FUZZ_SECONDS:-60} s each"
  require clang-14 clang++-14
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
