#!/usr/bin/env bash
# Packs a Windows build into its ZIP and checks it: the files that a Windows
# programmer needs, in the layout that `cmake --install` of the build gives,
# byte for byte the build's; and hosts link against the unpacked package
# with MinGW (libTavrineEncode.dll.a, libtavrine.dll.a) and with lld-link
# (TavrineEncode.lib, tavrine.lib).
# Usage: check_zip.sh BUILD_DIR   (a configured and built Windows build)
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check_zip: $*" >&2; exit 1; }

(cd "$build" && cpack -G ZIP >/dev/null)
zip=$(ls "$build"/tavrine-*-win*.zip)
name=$(basename "$zip" .zip)
mkdir "$scratch/unpacked"
(cd "$scratch/unpacked" && cmake -E tar xf "$zip")
package=$scratch/unpacked/$name
[ -d "$package" ] || fail "$name.zip has no top directory $name"

for f in bin/TavrineEncode.dll lib/libTavrineEncode.dll.a lib/TavrineEncode.lib include/tavrine.h \
         bin/tavrine.dll lib/libtavrine.dll.a lib/tavrine.lib include/tavrine_api.h \
         bin/tavrine.exe bin/untavrine.exe README.md docs/format.md; do
  [ -f "$package/$f" ] || fail "$name.zip holds no $f"
done

cmake --install "$build" --prefix "$scratch/installed" >/dev/null
(cd "$package" && find . -type f | LC_ALL=C sort) >"$scratch/zip.list"
(cd "$scratch/installed" && find . -type f | LC_ALL=C sort) >"$scratch/install.list"
diff "$scratch/install.list" "$scratch/zip.list" >&2 || fail "$name.zip and cmake --install differ in layout"
while IFS= read -r f; do
  cmp -s "$package/$f" "$scratch/installed/$f" || fail "$f differs between $name.zip and cmake --install"
done <"$scratch/zip.list"
for built in windows/TavrineEncode.dll windows/tavrine.dll cli/tavrine.exe; do
  cmp -s "$package/bin/$(basename "$built")" "$build/$built" ||
    fail "$(basename "$built") in $name.zip is not the one built and tested"
done

# The unpacked package serves a host build, with either toolchain.
compiler=$(sed -n 's/^CMAKE_C_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
"$compiler" -Wall -Wextra -Werror -I"$package/include" -o "$scratch/mingw_host.exe" \
  "$source_dir/windows/linked_host.c" -L"$package/lib" -lTavrineEncode
"$compiler" -Wall -Wextra -Werror -I"$package/include" -o "$scratch/mingw_api_host.exe" \
  "$source_dir/windows/api_host.c" -L"$package/lib" -ltavrine
lld_link=$(sed -n 's/^TAVRINE_LLD_LINK:[A-Z]*=//p' "$build/CMakeCache.txt")
case $(basename "$zip") in *win64*) machine=x64 ;; *) machine=x86 ;; esac
for host in msvc_linked_host:TavrineEncode.lib msvc_api_host:tavrine.lib; do
  object=$build/windows/${host%%:*}.obj
  [ -f "$object" ] ||
    fail "no $object: the build did not compile the Microsoft-ABI hosts (clang and lld-link missing?)"
  "$lld_link" /nologo /nodefaultlib /entry:hostEntry /subsystem:console /machine:$machine \
    /out:"$scratch/${host%%:*}.exe" "$object" "$package/lib/${host#*:}"
done
echo "$name.zip: $(wc -l <"$scratch/zip.list") files as cmake --install lays them out; hosts link against it"
