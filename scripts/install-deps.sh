#!/usr/bin/env bash
# Installs the Debian packages that building and testing tavrine need:
# "build" for building and the native tests, "all" (the default) for every
# stage of scripts/test.sh. Idempotent: packages already present are left
# alone. Needs root (or sudo).
# Usage: scripts/install-deps.sh [build|all]
set -euo pipefail

# What building and the native tests need, and what the other stages of the
# test suite add (clang-tidy, the Windows cross-builds, wine and the tools that
# write and link the Microsoft-format import library, the ARM64 and s390x
# cross compilers, sanitizers, fuzzing, the benchmarks' peers, the Python
# package's build, tests and Dask example).
build_packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev groff-base
)
full_packages=(
  "${build_packages[@]}"
  libbenchmark-dev libbz2-dev libzstd-dev lbzip2
  clang-14 libclang-rt-14-dev clang-tidy-14 valgrind
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  llvm-14 lld-14 bsdutils
  wine wine32:i386 wine64
  g++-aarch64-linux-gnu g++-s390x-linux-gnu
  python3-dev python3-pybind11 python3-pytest python3-venv python3-setuptools python3-wheel
  python3-distributed
)
# Installed without recommends: qemu-user-static would bring binfmt-support,
# and no emulator is to be registered for i386 binaries (windows/run-wine.sh
# calls qemu itself where the kernel cannot execute 32-bit code; the cross
# builds run their tests through qemu-aarch64-static and qemu-s390x-static).
bare_packages=(qemu-user-static)

case "${1:-all}" in
  build) packages=("${build_packages[@]}"); bare_packages=() ;;
  all) packages=("${full_packages[@]}") ;;
  *) echo "usage: $0 [build|all]" >&2; exit 2 ;;
esac

sudo_if_needed() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing=()
for p in "${packages[@]}"; do
  is_installed "$p" || missing+=("$p")
done
missing_bare=()
for p in ${bare_packages[@]+"${bare_packages[@]}"}; do
  is_installed "$p" || missing_bare+=("$p")
done
if [ ${#missing[@]} -eq 0 ] && [ ${#missing_bare[@]} -eq 0 ]; then
  exit 0
fi

# wine32 needs the i386 architecture.
if [[ " ${missing[*]} " == *" wine32:i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo_if_needed dpkg --add-architecture i386
fi
echo "installing: ${missing[*]} ${missing_bare[*]}"
# A mirror in the middle of a sync can fail one index (apt-get update then
# exits non-zero although the others are fresh); what the indices hold is
# still worth trying, and a package that is really missing fails the install.
if ! sudo_if_needed apt-get update -qq; then
  sleep 20
  sudo_if_needed apt-get update -qq || echo "install-deps: some package indices could not be updated; installing from those at hand" >&2
fi
if [ ${#missing[@]} -gt 0 ]; then
  sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
if [ ${#missing_bare[@]} -gt 0 ]; then
  sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing_bare[@]}"
fi
