#!/bin/sh
# tavrine.dll is a PE32 i386 DLL (PE32+ x86-64 for a 64-bit build) named
# tavrine.dll that exports by name what the Linux library exports, the POSIX
# descriptor calls (*_fd) aside, and nothing else; it and the programs given
# need nothing but Windows system DLLs.
# Usage: check_api_dll.sh DLL 32|64 LINUX_LIBRARY|DEF [PROGRAM.exe...]
#   LINUX_LIBRARY: a native libtavrine.so (its dynamic symbols are the
#   interface); without a native build, the .def the DLL was linked with.
# (OBJDUMP: the MinGW objdump.)
set -eu
dll=$1
bits=$2
reference=$3
shift 3
fail() { echo "$*" >&2; exit 1; }
case $bits in
  32) format=pei-i386 triplet=i686-w64-mingw32 ;;
  64) format=pei-x86-64 triplet=x86_64-w64-mingw32 ;;
  *) fail "the width is 32 or 64, not '$bits'" ;;
esac
objdump=${OBJDUMP:-$triplet-objdump}
dump=$("$objdump" -p "$dll")
echo "$dump" | grep -q "file format $format\$" || fail "not a $bits-bit image ($format)"
echo "$dump" | grep -q 'Name.*[[:space:]]tavrine.dll$' || fail "export directory is not named tavrine.dll"

case $reference in
  *.def) expected=$(sed -n 's/^[[:space:]]*\([A-Za-z_][A-Za-z0-9_]*\).*$/\1/p' "$reference" |
                    grep -v -e '^LIBRARY$' -e '^EXPORTS$' | LC_ALL=C sort) ;;
  *) expected=$(nm -D --defined-only "$reference" | awk '{print $3}' | grep -v -e '^$' -e '_fd$' | LC_ALL=C sort) ;;
esac
[ -n "$expected" ] || fail "no exports found in $reference"
actual=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\] \(.*\)$/\1/p' | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "exports differ from $(basename "$reference")'s (< exported, > expected):" >&2
  printf '%s\n' "$actual" | diff - /dev/fd/3 3<<EXPECTED >&2 || true
$expected
EXPECTED
  exit 1
fi

for image in "$dll" "$@"; do
  imports=$("$objdump" -p "$image" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  for dllname in $imports; do
    case "$dllname" in
      kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|ntdll.dll) ;;
      *) fail "$(basename "$image") depends on a non-system DLL: $dllname" ;;
    esac
  done
  echo "$(basename "$image") imports: $(echo $imports)"
done
echo "tavrine.dll exports the $(echo "$expected" | wc -l) functions of $(basename "$reference")"
