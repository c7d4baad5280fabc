#!/usr/bin/env bash
# Installs the Debian packages that building and testing tavrine need.
# Idempotent: packages already present are left alone. Needs root (or sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev clang-tidy-14 valgrind
  libbz2-dev libzstd-dev libxxhash-dev groff-base
  g++-mingw-w64-i686
  wine wine32:i386
)
# Installed without recommends: qemu-user-static would bring binfmt-support,
# and no emulator is to be registered for i386 binaries (windows/run-wine.sh
# calls qemu itself where the kernel cannot execute 32-bit code).
bare_packages=(qemu-user-static)

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
for p in "${bare_packages[@]}"; do
  is_installed "$p" || missing_bare+=("$p")
done
if [ ${#missing[@]} -eq 0 ] && [ ${#missing_bare[@]} -eq 0 ]; then
  exit 0
fi

# wine32 needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo_if_needed dpkg --add-architecture i386
fi
echo "installing: ${missing[*]} ${missing_bare[*]}"
sudo_if_needed apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
if [ ${#missing_bare[@]} -gt 0 ]; then
  sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing_bare[@]}"
fi
