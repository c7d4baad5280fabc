#!/usr/bin/env bash
# Runs the whole test suite:
#   native    release build, every unit and end-to-end test
#   lint      clang-tidy's bugprone and performance checks on the library and tool
#   python    the Python package built into a scratch virtual environment with
#             Debian's interpreter and packages, offline; its pytest tests
#   windows   the 32-bit Windows module (MinGW), its export table, import
#             libraries and hosts under wine, its streams against the native library's;
#             tavrine.dll and tavrine.exe under wine against the native library and tool
#   windows64 the same for the 64-bit build (MinGW-w64, wine64)
#   cross     ARM64 and big-endian s390x cross-builds, their unit tests under
#             qemu-user and their streams against the native library's
#   package   the Debian package, installed with apt, used and removed again;
#             a ZIP of each Windows build
#   sanitize  the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer,
#             and the concurrency tests under ThreadSanitizer
#   fuzz      every libFuzzer target for a bounded time (FUZZ_SECONDS each, default 60)
# Usage: scripts/test.sh [stage...]   (no stage: all of them, in this order)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
all_stages=(native lint python windows windows64 cross package sanitize fuzz)
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=("${all_stages[@]}")

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
  # The sources under this checkout's own src/ and cli/: a checkout that
  # itself lies in a directory named src must not bring in the tests too.
  local files sources
  sources="^$(printf '%s' "$PWD" | sed 's/[][\\.*^$+?(){}|]/\\&/g')/(src|cli)/"
  files=$(grep -cE "\"file\": \"${sources#^}" build/compile_commands.json || true)
  [ "${files:-0}" -gt 0 ] || { echo "no library or tool sources in build/compile_commands.json" >&2; exit 1; }
  # .clang-tidy makes every finding an error, so the exit status tells.
  if ! run-clang-tidy-14 -p build -quiet -j "$jobs" "$sources" \
       >build/clang-tidy.log 2>&1 || grep -E '(warning|error): ' build/clang-tidy.log; then
    grep -E '(warning|error): ' build/clang-tidy.log || tail -n 20 build/clang-tidy.log
    echo "clang-tidy failed or found the problems above" >&2
    exit 1
  fi
  echo "clang-tidy: $files source files clean"
}

# Debian's interpreter, which sees Debian's python3-* packages (another
# python3 may come first on the PATH).
debian_python=/usr/bin/python3
python_modules="pybind11, pytest, setuptools, wheel, venv, distributed"

python() {
  step "Python package (scratch venv, offline build, pytest)"
  require "$debian_python" c++ cmake ninja
  "$debian_python" -c "import $python_modules" 2>/dev/null ||
    { echo "missing Python modules of: $python_modules (scripts/install-deps.sh installs them)" >&2; exit 1; }
  # The tool and the sample writer of the native build, which the tests compare with.
  configure build -DCMAKE_BUILD_TYPE=Release
  cmake --build build -j "$jobs" --target tavrine_cli tavrine-datagen
  # A scratch environment, and the package built from scratch in it, warnings as errors.
  rm -rf build-python python/build python/tavrine.egg-info
  "$debian_python" -m venv --system-site-packages build-python/venv
  CFLAGS="-Werror" TAVRINE_BUILD_JOBS="$jobs" \
    build-python/venv/bin/pip install --quiet --no-index --no-build-isolation ./python
  rm -rf python/build python/tavrine.egg-info
  # Outside the source tree, so that the installed package is the one imported.
  (cd build-python && TAVRINE_TOOL="$PWD/../build/cli/tavrine" \
    TAVRINE_DATAGEN="$PWD/../build/tests/support/tavrine-datagen" \
    venv/bin/python -m pytest -q -p no:cacheprovider -rs ../python/tests)
}

# The native build's sample writer, stream dump, library and tool, which the
# Windows and cross builds compare their streams, exports and .tvr files with.
native_tools() {
  [ -f build/build.ninja ] || configure build -DCMAKE_BUILD_TYPE=Release
  cmake --build build -j "$jobs" --target stream_dump tavrine-datagen tavrine tavrine_cli
}

# windows_build BITS: configures and builds the Windows module of that width.
windows_build() {
  local bits=$1 dir toolchain
  if [ "$bits" = 32 ]; then
    dir=build-win toolchain=windows/toolchain-i686-mingw.cmake
  else
    dir=build-win64 toolchain=windows/toolchain-x86_64-mingw.cmake
  fi
  native_tools
  configure "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DTAVRINE_NATIVE_BUILD_DIR="$PWD/build"
  cmake --build "$dir" -j "$jobs"
}

# Tools that the hosts linked through the Microsoft-format import library need.
msvc_host_tools=(clang-14 lld-link-14 llvm-dlltool-14)

windows() {
  step "32-bit Windows module (MinGW, tests under wine)"
  require i686-w64-mingw32-g++ i686-w64-mingw32-g++-posix wine "${msvc_host_tools[@]}"
  windows_build 32
  ctest --test-dir build-win -j "$jobs" --output-on-failure --no-tests=error --timeout 1500
}

windows64() {
  step "64-bit Windows module (MinGW-w64, tests under wine64)"
  require x86_64-w64-mingw32-g++ x86_64-w64-mingw32-g++-posix wine script "${msvc_host_tools[@]}"
  windows_build 64
  ctest --test-dir build-win64 -j "$jobs" --output-on-failure --no-tests=error --timeout 1500
}

# Under emulation the suite runs without its four slowest tests, each of which
# compares the block sort with the literal one over hundreds of large blocks
# (three quarters of the emulated time): the rest runs every line of src/ that
# the whole suite runs, and the streams of every sample are compared with
# x86-64's. Also left out: the death test, whose child re-executes the program
# (which needs a binfmt registration for qemu), and the tests that build a
# host project, which would build for this machine.
cross_skipped='^FastBlockSort\.(PeriodicAndNearlyPeriodicBlocks|LargestBlocksAndChangingLengths)$'
cross_skipped+='|FastBlockSortOn\.|^FrequencyModelDeathTest\.|^embed_with_add_subdirectory$|^install_and_consume$'

# cross_build ARCH: builds GoogleTest and the library with its tests for the
# target, and runs the tests under qemu.
cross_build() {
  local arch=$1 dir=build-$1
  local toolchain=$PWD/cmake/toolchain-$arch-linux-gnu.cmake gtest=$PWD/build-$1/googletest
  local gtest_source=${GTEST_SOURCE_DIR:-/usr/src/googletest}
  [ -f "$gtest_source/CMakeLists.txt" ] ||
    { echo "no GoogleTest sources in $gtest_source (Debian: libgtest-dev)" >&2; exit 1; }
  if [ ! -f "$gtest/prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
    cmake -S "$gtest_source" -B "$gtest/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest/prefix" >/dev/null
    cmake --build "$gtest/build" -j "$jobs" >/dev/null
    cmake --install "$gtest/build" >/dev/null
  fi
  configure "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DTAVRINE_BUILD_TOOLS=OFF -DTAVRINE_INSTALL=OFF -DGTest_DIR="$gtest/prefix/lib/cmake/GTest" \
    -DTAVRINE_NATIVE_BUILD_DIR="$PWD/build"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --no-tests=error --timeout 1500 \
    -E "$cross_skipped"
}

cross() {
  step "ARM64 and big-endian s390x cross-builds (tests under qemu-user)"
  require aarch64-linux-gnu-g++ s390x-linux-gnu-g++ qemu-aarch64-static qemu-s390x-static
  native_tools
  cross_build aarch64
  cross_build s390x
}

package() {
  step "packages: the Debian package installed, used and removed; a ZIP per Windows width"
  require cpack dpkg dpkg-deb dpkg-shlibdeps apt-get pkg-config c++ cc \
    i686-w64-mingw32-g++ x86_64-w64-mingw32-g++ i686-w64-mingw32-g++-posix \
    x86_64-w64-mingw32-g++-posix "${msvc_host_tools[@]}"
  configure build-deb -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DTAVRINE_BUILD_TESTS=OFF
  cmake --build build-deb -j "$jobs"
  rm -f build-deb/tavrine_*.deb
  (cd build-deb && cpack -G DEB >/dev/null)
  tests/package/check_deb.sh build-deb/tavrine_*.deb
  [ -f build-win/build.ninja ] || windows_build 32
  [ -f build-win64/build.ninja ] || windows_build 64
  cmake --build build-win -j "$jobs"
  cmake --build build-win64 -j "$jobs"
  tests/package/check_zip.sh build-win
  tests/package/check_zip.sh build-win64
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
  case " ${all_stages[*]} " in
    *" $stage "*) ;;
    *) echo "unknown stage: $stage (${all_stages[*]})" >&2; exit 2 ;;
  esac
done
stage_times=""
for stage in "${stages[@]}"; do
  started=$SECONDS
  "$stage"
  stage_times+="${stage_times:+, }$stage $((SECONDS - started)) s"
done
step "all tests passed; wall time per stage: $stage_times"
