#!/usr/bin/env bash
# Installs the Debian packages that building and testing tavrine need.
# Idempotent: packages already present are left alone. Needs root (or sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev clang-tidy-14 valgrind
  libbz2-dev libzstd-dev libxxhash-dev libcli11-dev
  g++-mingw-w64-i686
  wine wine32:i386
)

sudo_if_needed() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

# wine32 needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo_if_needed dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}"
sudo_if_needed apt-get update -qq
sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
