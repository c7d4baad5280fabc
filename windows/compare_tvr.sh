#!/bin/sh
# The .tvr files that a Windows build wrote (NAME.tvr in DIR) equal, byte for
# byte, what the native tool writes for every listed file with OPTIONS.
# Usage: compare_tvr.sh TAVRINE LISTFILE DIR [OPTIONS...]   (TAVRINE: the native tool)
set -eu
tavrine=$1
list=$2
dir=$3
shift 3
count=0
while IFS= read -r path; do
  [ -n "$path" ] || continue
  name=$(basename "$path")
  if ! "$tavrine" -c "$@" "$path" | cmp -s - "$dir/$name.tvr"; then
    echo "$name: the .tvr file differs from the native tool's ($*)" >&2
    exit 1
  fi
  count=$((count + 1))
done < "$list"
[ "$count" -gt 0 ] || { echo "no .tvr files compared" >&2; exit 1; }
echo "$count .tvr files identical to the native tool's"
