#!/usr/bin/env bash
# Installs the Debian packages that building and testing tavrine need:
# "build" for building and the native tests, "all" (the default) for every
# stage of scripts/test.sh. Idempotent: packages already present are left
# alone. Needs root (or sudo). Where only i386 indices fail to update, the
# native packages still install, and the 32-bit wine is unpacked in
# TAVRINE_WINE32_TREE (default /opt/tavrine-wine32) instead of installed.
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

native_arch=$(dpkg --print-architecture)
update_log=$(mktemp)
trap 'rm -f "$update_log"' EXIT

# update_indices [apt options...]: apt-get update, its errors kept in
# $update_log (and shown); one retry, since a mirror in mid-sync may be whole
# again seconds later.
update_indices() {
  local attempt
  for attempt in 1 2; do
    [ "$attempt" = 1 ] || sleep 20
    if sudo_if_needed apt-get "$@" update -qq 2>"$update_log"; then
      return 0
    fi
    cat "$update_log" >&2
  done
  return 1
}

# True when every index that failed belongs to the second architecture (i386).
# apt then drops every index of that release, the native ones included, so
# the native packages would resolve against stale versions.
only_i386_indices_failed() {
  grep -q 'Failed to fetch' "$update_log" &&
    ! grep 'Failed to fetch' "$update_log" | grep -vq '/binary-i386/'
}

# The 32-bit wine, where the package cannot be installed: a broken i386 index
# leaves the i386 libraries that wine32 pulls in behind the native ones of the
# security updates, and the two must be of one version. The test programs need
# no more of wine than its loader, its own libraries and the i386 C library
# (which the main archive has at the native version), so wine32 and libwine
# are unpacked into a tree of their own, fetched through indices of their own
# (signed and checked by apt like any other), and windows/run-wine.sh uses
# that tree when the package is missing.
wine32_tree=${TAVRINE_WINE32_TREE:-/opt/tavrine-wine32}
unpack_wine32_tree() {
  local work opts deb mingw_zlib builtin_zlib
  work=$(mktemp -d)
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
  opts=(-o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache")
  # The broken index fails again here; the main archive's i386 index is the
  # one needed.
  sudo_if_needed apt-get "${opts[@]}" update -qq 2>/dev/null || true
  is_installed libc6:i386 ||
    sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get "${opts[@]}" install -y -qq \
      --no-install-recommends libc6:i386
  (cd "$work" && sudo_if_needed apt-get "${opts[@]}" download wine32:i386 libwine:i386)
  sudo_if_needed rm -rf "$wine32_tree.new"
  for deb in "$work"/*.deb; do
    sudo_if_needed dpkg-deb -x "$deb" "$wine32_tree.new"
  done
  # libwine's installation script makes wine's zlib1.dll from MinGW's: the
  # same file, marked as one of wine's own DLLs.
  mingw_zlib=/usr/i686-w64-mingw32/lib/zlib1.dll
  builtin_zlib=$wine32_tree.new/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll
  [ -f "$mingw_zlib" ] || sudo_if_needed apt-get install -y -qq libz-mingw-w64
  { head -c 64 "$mingw_zlib"; printf 'Wine builtin DLL'; head -c 16 /dev/zero
    tail -c +97 "$mingw_zlib"; } | sudo_if_needed tee "$builtin_zlib" >/dev/null
  sudo_if_needed rm -rf "$wine32_tree"
  sudo_if_needed mv "$wine32_tree.new" "$wine32_tree"
  sudo_if_needed rm -rf "$work"
  echo "install-deps: the 32-bit wine is unpacked in $wine32_tree (the package wine32:i386 could not be installed)" >&2
}

wine32_unpacked=no
if ! update_indices; then
  if only_i386_indices_failed; then
    echo "install-deps: only i386 indices failed; updating the $native_arch ones alone" >&2
    update_indices -o "APT::Architectures::=$native_arch" ||
      echo "install-deps: some package indices could not be updated; installing from those at hand" >&2
    if [[ " ${missing[*]} " == *" wine32:i386 "* ]]; then
      without_wine32=()
      for p in "${missing[@]}"; do
        [ "$p" = wine32:i386 ] || without_wine32+=("$p")
      done
      missing=(${without_wine32[@]+"${without_wine32[@]}"})
      wine32_unpacked=yes
    fi
  else
    echo "install-deps: some package indices could not be updated; installing from those at hand" >&2
  fi
fi
if [ ${#missing[@]} -gt 0 ]; then
  sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
if [ ${#missing_bare[@]} -gt 0 ]; then
  sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing_bare[@]}"
fi
[ "$wine32_unpacked" = no ] || unpack_wine32_tree
