#!/usr/bin/env bash
# Installs the Debian package on this machine with apt, uses it as a user and
# a host project would, and removes it again (also when a check fails).
# Usage: check_deb.sh PACKAGE.deb   (as root, or with sudo)
set -euo pipefail
deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
consumer=$here/../install/consumer
scratch=$(mktemp -d)
fail() { echo "check_deb: $*" >&2; exit 1; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
installed() { dpkg-query -W -f='${Status}' tavrine 2>/dev/null | grep -q "install ok installed"; }

# What the package holds, before anything is installed.
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in include/tavrine.h 'libtavrine\.so\.[0-9]' 'libtavrine\.a$' pkgconfig/tavrine.pc \
            cmake/tavrine/tavrineConfig.cmake cmake/tavrine/tavrineTargets.cmake \
            bin/tavrine bin/untavrine man/man1/tavrine.1; do
  echo "$contents" | grep -q "^\./usr/.*$path" || fail "the package holds no $path"
done
dpkg-deb -f "$deb" Depends | grep -q libc6 || fail "the package declares no dependency on the C library"

# One installation of tavrine at a time on a machine; another one is left alone.
exec 9>"${TMPDIR:-/tmp}/tavrine-package.lock"
flock 9
installed && fail "a tavrine package is installed already; remove it first (apt-get remove tavrine)"
cleanup() {
  if installed; then as_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq --purge tavrine >/dev/null; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
installed || fail "apt did not install the package"

# The tool and its manual, from the package's own places.
[ -f /usr/share/man/man1/tavrine.1 ] || fail "the manual page is not installed"
seq 1 40000 >"$scratch/numbers"
/usr/bin/tavrine -c "$scratch/numbers" >"$scratch/numbers.tvr"
/usr/bin/tavrine -t "$scratch/numbers.tvr"
/usr/bin/untavrine -c "$scratch/numbers.tvr" | cmp - "$scratch/numbers"
[ "$(stat -c %s "$scratch/numbers.tvr")" -lt "$(stat -c %s "$scratch/numbers")" ] ||
  fail "the tool did not compress"

# A host project, through find_package with no hints and through pkg-config.
cmake -S "$consumer" -B "$scratch/consumer" >/dev/null
cmake --build "$scratch/consumer" >/dev/null
"$scratch/consumer/consumer"
"$scratch/consumer/consumer_static"
cc -o "$scratch/pc_consumer" "$consumer/main.c" $(pkg-config --cflags --libs tavrine)
"$scratch/pc_consumer"

as_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq --purge tavrine >/dev/null
installed && fail "the package is still installed"
for left in /usr/include/tavrine.h /usr/bin/tavrine /usr/bin/untavrine /usr/share/man/man1/tavrine.1; do
  [ ! -e "$left" ] || fail "$left is left behind after removal"
done
! pkg-config --exists tavrine || fail "pkg-config still finds tavrine after removal"
echo "$(basename "$deb"): installed, used by the tool and two host builds, removed"
