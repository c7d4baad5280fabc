#!/bin/sh
# Another build's streams (the Windows module's, written by host_codec, or a
# cross build's) equal the native library's streams for every listed file,
# byte for byte, in both variants.
# Usage: compare_streams.sh STREAM_DUMP LISTFILE STREAM_DIR
set -eu
dump=$1
list=$2
dir=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
count=0
while IFS= read -r path; do
  [ -n "$path" ] || continue
  name=$(basename "$path")
  for variant in 0 5; do
    "$dump" "$variant" "$path" "$scratch/native"
    if ! cmp -s "$scratch/native" "$dir/$name.v$variant"; then
      echo "$name, variant $variant: the stream differs from the native library's" >&2
      cmp "$scratch/native" "$dir/$name.v$variant" >&2 || true
      exit 1
    fi
    count=$((count + 1))
  done
done < "$list"
[ "$count" -gt 0 ] || { echo "no streams compared" >&2; exit 1; }
echo "$count streams identical to the native library's"
