#!/bin/sh
# The shared library exports exactly the eleven ZOLT_ functions.
set -eu
lib=$1
expected='ZOLT_Decode
ZOLT_Encode
ZOLT_GetDecodedLength
ZOLT_GetInterfaceVersion
ZOLT_GetMaximumEncodedLength
ZOLT_GetSupportedDecodeType
ZOLT_GetSupportedEncodeType
ZOLT_IsSupportedDecodeType
ZOLT_IsSupportedEncodeType
ZOLT_MakeInterfaceVersion
ZOLT_VerifyInterfaceVersion'
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v '^$' | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from the interface:" >&2
  printf '%s\n' "$actual" >&2
  exit 1
fi
soname=$(objdump -p "$lib" | awk '/SONAME/ {print $2}')
case "$soname" in
  libtavrine.so.*) ;;
  *) echo "missing or unexpected SONAME: '$soname'" >&2; exit 1 ;;
esac
echo "exports and SONAME ($soname) as expected"
