#!/bin/sh
# The module is a PE32 i386 DLL (PE32+ x86-64 for a 64-bit build) named
# TavrineEncode.dll that exports the eleven functions by undecorated name at
# their fixed ordinals, and needs nothing but Windows system DLLs.
# Usage: check_dll_exports.sh DLL [32|64]   (OBJDUMP: the MinGW objdump)
set -eu
dll=$1
bits=${2:-32}
fail() { echo "$*" >&2; exit 1; }
case $bits in
  32) format=pei-i386 triplet=i686-w64-mingw32 ;;
  64) format=pei-x86-64 triplet=x86_64-w64-mingw32 ;;
  *) fail "the width is 32 or 64, not '$bits'" ;;
esac
objdump=${OBJDUMP:-$triplet-objdump}
dump=$("$objdump" -p "$dll")

echo "$dump" | grep -q "file format $format\$" || fail "not a $bits-bit image ($format)"
echo "$dump" | grep -q 'Name.*TavrineEncode.dll' || fail "export directory is not named TavrineEncode.dll"
echo "$dump" | grep -q 'Ordinal Base[[:space:]]*1' || fail "ordinal base is not 1"

expected='1 ZOLT_GetInterfaceVersion
2 ZOLT_VerifyInterfaceVersion
3 ZOLT_MakeInterfaceVersion
11 ZOLT_GetSupportedEncodeType
12 ZOLT_IsSupportedEncodeType
13 ZOLT_GetMaximumEncodedLength
14 ZOLT_Encode
15 ZOLT_GetSupportedDecodeType
16 ZOLT_IsSupportedDecodeType
17 ZOLT_GetDecodedLength
18 ZOLT_Decode'
# Lines of the name table read "[  17] ZOLT_Decode", with the ordinal minus the base.
actual=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\] \(.*\)$/\1 \2/p' |
  awk '{print $1 + 1, $2}' | sort -n)
[ "$actual" = "$expected" ] || fail "export names or ordinals differ:
$actual"
# Ordinals 4 to 10 are reserved slots without a function: 18 slots, 11 in use.
echo "$dump" | grep -q 'Export Address Table[[:space:]]*00000012' || fail "export address table is not 18 slots"
used=$(echo "$dump" | grep -c 'Export RVA' || true)
[ "$used" -eq 11 ] || fail "$used export slots in use, expected 11"

imports=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dllname in $imports; do
  case "$dllname" in
    kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|ntdll.dll) ;;
    *) fail "depends on a non-system DLL: $dllname" ;;
  esac
done
echo "export table and imports as expected (imports: $(echo $imports))"
