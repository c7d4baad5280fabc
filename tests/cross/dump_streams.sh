#!/bin/sh
# Writes the stream of every listed file in both variants, as OUTDIR/NAME.v0
# and NAME.v5, with a stream_dump of another build run through its emulator.
# Usage: dump_streams.sh LISTFILE OUTDIR [EMULATOR...] STREAM_DUMP
set -eu
list=$1
dir=$2
shift 2
rm -rf "$dir"
mkdir -p "$dir"
count=0
while IFS= read -r path; do
  [ -n "$path" ] || continue
  for variant in 0 5; do
    "$@" "$variant" "$path" "$dir/$(basename "$path").v$variant"
    count=$((count + 1))
  done
done <"$list"
[ "$count" -gt 0 ] || { echo "no streams written" >&2; exit 1; }
echo "$count streams written"
