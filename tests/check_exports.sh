#!/bin/sh
# The shared library exports exactly the eleven ZOLT_ functions and the
# tavrine_ functions of tavrine_api.h.
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
ZOLT_VerifyInterfaceVersion
tavrine_decode
tavrine_decode_stream
tavrine_decoded_length
tavrine_decoder_create
tavrine_decoder_free
tavrine_decoder_offset
tavrine_decoder_set_threads
tavrine_encode
tavrine_encode_bound
tavrine_encode_stream
tavrine_encoder_create
tavrine_encoder_free
tavrine_encoder_set_threads
tavrine_status_text
tavrine_tvr_compress
tavrine_tvr_compress_fd
tavrine_tvr_compress_memory
tavrine_tvr_decompress
tavrine_tvr_decompress_fd
tavrine_tvr_decompress_memory
tavrine_tvr_list
tavrine_tvr_read
tavrine_tvr_reader_create
tavrine_tvr_reader_free
tavrine_tvr_reader_report
tavrine_tvr_settings_init
tavrine_tvr_write
tavrine_tvr_writer_close
tavrine_tvr_writer_create
tavrine_tvr_writer_free
tavrine_tvr_writer_report
tavrine_version'
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
