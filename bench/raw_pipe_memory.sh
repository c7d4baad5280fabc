#!/usr/bin/env bash
# Streams BYTES bytes (default 4,000,000,000) through `tavrine --raw` from
# pipe to pipe, compressing and decompressing at once, and reports the peak
# resident memory of each direction, which must stay under LIMIT_MIB (64),
# the stream's size and the wall time. The decoded bytes are compared with
# the input as they come; nothing is stored.
#
# Usage: bench/raw_pipe_memory.sh TAVRINE [BYTES] [SOURCE]
#   The input is SOURCE repeated, or by default the text of `seq 1 ...`.
#   Needs GNU time (/usr/bin/time, Debian package "time").
set -euo pipefail

tavrine=$1
bytes=${2:-4000000000}
source=${3:-}
limit_mib=${LIMIT_MIB:-64}

[ -x /usr/bin/time ] || { echo "raw_pipe_memory.sh: needs GNU time (/usr/bin/time)" >&2; exit 2; }

# The writer in front of head ends on SIGPIPE, which is no failure here.
generate() (
  set +o pipefail
  if [ -n "$source" ]; then
    while :; do cat "$source"; done | head -c "$bytes"
  else
    seq 1 "$bytes" | head -c "$bytes"
  fi
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

start=$(date +%s.%N)
generate |
  /usr/bin/time -f %M -o "$work/compress.kib" "$tavrine" --raw -q -c |
  tee >(wc -c >"$work/stream.size") |
  /usr/bin/time -f %M -o "$work/decompress.kib" "$tavrine" --raw -q -d -c |
  cmp - <(generate) || { echo "FAIL: the round trip differs" >&2; exit 1; }
end=$(date +%s.%N)
wait

compress_kib=$(tail -n 1 "$work/compress.kib")
decompress_kib=$(tail -n 1 "$work/decompress.kib")
stream_size=$(cat "$work/stream.size")
awk -v b="$bytes" -v s="$stream_size" -v c="$compress_kib" -v d="$decompress_kib" \
    -v t0="$start" -v t1="$end" -v limit="$limit_mib" 'BEGIN {
  printf "input %.0f bytes, stream %.0f bytes (%.2f%%), %.1f s for both directions at once (%.1f MB/s)\n",
         b, s, 100 * s / b, t1 - t0, b / 1e6 / (t1 - t0)
  printf "peak resident memory: compress %.1f MiB, decompress %.1f MiB (limit %d MiB)\n",
         c / 1024, d / 1024, limit
  exit (c / 1024 < limit && d / 1024 < limit) ? 0 : 1
}' || { echo "FAIL: over the memory limit" >&2; exit 1; }
