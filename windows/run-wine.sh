#!/usr/bin/env bash
# Runs a Windows program under Debian's wine, for the tests of the Windows
# module: 32-bit programs under the 32-bit wine, 64-bit ones under wine64.
#
#   run-wine.sh --init                    prepare wine and its prefix, then stop
#   run-wine.sh --route                   print the route programs take: native or qemu
#   run-wine.sh program.exe [arguments]   run a program (preparing first if needed)
#
# Where the kernel executes 32-bit x86 code, the 32-bit wine loader runs as it
# is. Where it does not (a kernel without IA32 emulation: the loader fails with
# "Exec format error"), the same loader and every wine process it starts run
# under qemu-i386 user-mode emulation. Either way the program and the module
# are the unmodified 32-bit images, executed instruction by instruction as
# i386 code. 64-bit wine is no way out there: its WoW64 mode needs the 32-bit
# code segment, which such a kernel does not offer either. 64-bit programs run
# under the 64-bit loader as it is, in a 64-bit prefix of their own.
#
# Environment:
#   TAVRINE_WINE_BITS   32 (default) or 64: the width of the programs to run
#   TAVRINE_WINE_DIR    state: the wine prefix and the emulation tree
#                       (default ${TMPDIR:-/tmp}/tavrine-wine<bits>-<uid>)
#   TAVRINE_WINE_ROUTE  native, qemu or auto (default): auto takes native when
#                       the 32-bit loader runs natively; 64-bit is always native
#   WINE32_LOADER       the 32-bit wine loader (default /usr/lib/wine/wine, or
#                       where that package is missing, the one that
#                       scripts/install-deps.sh unpacks in /opt/tavrine-wine32)
#   WINE64_LOADER       the 64-bit wine loader (default /usr/lib/wine/wine64)
#   WINEDEBUG           passed on (default -all)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bits=${TAVRINE_WINE_BITS:-32}
route=${TAVRINE_WINE_ROUTE:-auto}
case $bits in
  32)
    loader=${WINE32_LOADER:-/usr/lib/wine/wine}
    unpacked=${TAVRINE_WINE32_TREE:-/opt/tavrine-wine32}/usr/lib/wine/wine
    if [ -z "${WINE32_LOADER:-}" ] && [ ! -f "$loader" ] && [ -f "$unpacked" ]; then
      loader=$unpacked
    fi
    state=${TAVRINE_WINE_DIR:-${TMPDIR:-/tmp}/tavrine-wine-$(id -u)}
    ;;
  64)
    loader=${WINE64_LOADER:-/usr/lib/wine/wine64}
    state=${TAVRINE_WINE_DIR:-${TMPDIR:-/tmp}/tavrine-wine64-$(id -u)}
    ;;
  *)
    echo "run-wine: TAVRINE_WINE_BITS must be 32 or 64, not '$bits'" >&2
    exit 1
    ;;
esac
tree=$state/i386
# The first start of a prefix is slow under emulation; a boot that hangs ends
# here rather than at the test's timeout.
boot_timeout=900

die() {
  echo "run-wine: $*" >&2
  exit 1
}

[ $# -gt 0 ] || die "usage: run-wine.sh --init | program.exe [arguments]"
if [ "$bits" = 64 ]; then
  [ -f "$loader" ] || die "no 64-bit wine loader at $loader (Debian: apt-get install wine wine64)"
else
  [ -f "$loader" ] ||
    die "no 32-bit wine loader at $loader (Debian: dpkg --add-architecture i386; apt-get install wine wine32:i386)"
fi
wineserver=$(dirname "$loader")/wineserver
[ -x "$wineserver" ] || die "no wineserver next to $loader"

# A kernel can run 32-bit code natively only if no emulator is registered for it.
runs_natively() {
  if grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then return 1; fi
  "$loader" --version >/dev/null 2>&1
}

case $route in
  auto) if [ "$bits" = 64 ] || runs_natively; then route=native; else route=qemu; fi ;;
  native) ;;
  qemu) [ "$bits" = 32 ] || die "64-bit programs run natively only" ;;
  *) die "TAVRINE_WINE_ROUTE must be native, qemu or auto, not '$route'" ;;
esac
if [ "$1" = --route ]; then
  echo "$route"
  exit 0
fi

export WINEPREFIX="$state/prefix"
export WINEARCH=win$bits
export WINEDEBUG="${WINEDEBUG:--all}"
# The tests need no services, desktop or menus; a crash ends the process at
# once instead of waiting for a debugger; no browser or .NET runtime is
# installed, so their setup is skipped rather than offered as a download.
export WINEDLLOVERRIDES="services.exe,explorer.exe,winemenubuilder.exe,winedbg.exe=d;mscoree,mshtml="

# The emulation tree mirrors the loader's installation, because wine finds its
# libraries, data and server relative to the loader's own path: lib/wine holds
# a copy of the loader (a link would resolve back to /usr), lib/i386-linux-gnu
# and share point at the installed files. Wine starts every further process
# through "wine-preloader" next to the loader, which here is a script that
# hands the loader to qemu.
prepare_qemu_tree() {
  qemu=$(command -v qemu-i386-static || command -v qemu-i386 || true)
  [ -n "$qemu" ] || die "32-bit code does not run natively here and qemu-i386 is missing (Debian: apt-get install qemu-user-static)"
  usr=$(cd "$(dirname "$loader")/../.." && pwd)
  bin=$tree/lib/wine
  mkdir -p "$bin" "$tree/lib/i386-linux-gnu" "$tree/share"
  ln -sfn "$usr/lib/i386-linux-gnu/wine" "$tree/lib/i386-linux-gnu/wine"
  ln -sfn "$usr/share/wine" "$tree/share/wine"
  ln -sfn "$wineserver" "$bin/wineserver"
  cmp -s "$loader" "$bin/wine" || cp "$loader" "$bin/wine"

  shim=$bin/mmap_noreplace.so
  if [ ! -f "$shim" ] || [ "$here/mmap_noreplace.c" -nt "$shim" ]; then
    ${HOST_CC:-cc} -m32 -O2 -fPIC -shared -nostdlib -ffreestanding -std=c99 -Wall -Wextra -Werror \
      -o "$shim.tmp" "$here/mmap_noreplace.c" ||
      die "cannot build the 32-bit mmap shim (needs a C compiler that accepts -m32)"
    mv "$shim.tmp" "$shim"
  fi

  cat >"$bin/wine-preloader.tmp" <<EOF
#!/bin/sh
# Wine starts each 32-bit process through this file: \$1 is the loader, the
# rest the program's arguments. The loader must not re-exec itself natively.
exec "$qemu" -E LD_PRELOAD="$shim" -E WINELOADERNOEXEC=1 "\$@"
EOF
  chmod +x "$bin/wine-preloader.tmp"
  mv "$bin/wine-preloader.tmp" "$bin/wine-preloader"
}

# A prefix counts as ready only once its first boot has finished and the
# server has written it out; a half-made one from an interrupted start goes.
prepare_prefix() {
  [ -f "$state/prefix.ready" ] && return 0
  rm -rf "$WINEPREFIX"
  started=$(date +%s)
  "$wineserver" -k 9>&- 2>/dev/null || true
  if [ "$route" = qemu ]; then
    set -- "$tree/lib/wine/wine-preloader" "$tree/lib/wine/wine"
  else
    set -- "$loader"
  fi
  # Whatever wineboot reports, the prefix it leaves is checked below; its
  # output is kept for when that check fails.
  log=$state/boot.log
  timeout "$boot_timeout" "$@" wineboot.exe --init 9>&- >"$log" 2>&1 || true
  if ! timeout "$boot_timeout" "$wineserver" -w 9>&- || [ ! -f "$WINEPREFIX/system.reg" ]; then
    tail -n 40 "$log" >&2
    die "wine did not finish making the prefix $WINEPREFIX (route: $route)"
  fi
  touch "$state/prefix.ready"
  echo "run-wine: prefix $WINEPREFIX ready after $(($(date +%s) - started)) s (route: $route)"
}

mkdir -p "$state"
{
  flock 9
  [ "$route" = qemu ] && prepare_qemu_tree
  prepare_prefix
} 9>"$state/lock"

if [ "$1" = --init ]; then
  echo "run-wine: route $route, prefix $WINEPREFIX"
  exit 0
fi
if [ "$route" = qemu ]; then
  exec "$tree/lib/wine/wine-preloader" "$tree/lib/wine/wine" "$@"
fi
exec "$loader" "$@"
