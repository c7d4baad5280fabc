#!/bin/sh
# Installs a build into a scratch prefix and builds a host project against it,
# once with find_package(tavrine) and once with pkg-config.
# Usage: check_install.sh BUILD_DIR
set -eu
build=$1
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in include/tavrine.h lib/libtavrine.a lib/pkgconfig/tavrine.pc lib/cmake/tavrine/tavrineConfig.cmake \
         bin/tavrine bin/untavrine bin/tavrine-roundtrip share/man/man1/tavrine.1 \
         share/man/man1/untavrine.1; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done
ls "$prefix"/lib/libtavrine.so.* >/dev/null

# The installed programs run from the prefix as they are, without
# LD_LIBRARY_PATH: the example links the shared library through its RPATH.
sample="$scratch/sample"
printf 'installed programs at work, installed programs at work\n' >"$sample"
env -u LD_LIBRARY_PATH "$prefix/bin/tavrine-roundtrip" "$sample" >/dev/null
env -u LD_LIBRARY_PATH "$prefix/bin/tavrine" -c "$sample" | env -u LD_LIBRARY_PATH "$prefix/bin/untavrine" -c |
  cmp - "$sample"

cmake -S "$here/consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/consumer" >/dev/null
"$scratch/consumer/consumer"
"$scratch/consumer/consumer_static"

PKG_CONFIG_PATH="$prefix/lib/pkgconfig" cc -o "$scratch/pc_consumer" "$here/consumer/main.c" \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs tavrine) \
  -Wl,-rpath,"$prefix/lib"
"$scratch/pc_consumer"
