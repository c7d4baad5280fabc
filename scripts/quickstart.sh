#!/usr/bin/env bash
# Installs what is missing, builds tavrine, and compresses, lists, decompresses
# and compares a file of the standard corpus, showing sizes and speed.
# Usage: scripts/quickstart.sh [FILE]
set -euo pipefail
cd "$(dirname "$0")/.."
sample=${1:-../shared/corpus/large/bible.txt}
[ -f "$sample" ] || sample=/work/shared/corpus/large/bible.txt

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
name=$(basename "$sample")
tavrine=build/cli/tavrine
echo
echo "\$ tavrine -v -o $name.tvr $name"
"$tavrine" -v -f -o "$out/$name.tvr" "$sample"
echo "\$ tavrine -l $name.tvr"
"$tavrine" -l "$out/$name.tvr"
echo "\$ tavrine -d -v -o $name $name.tvr"
"$tavrine" -d -v -f -o "$out/$name" "$out/$name.tvr"
cmp "$sample" "$out/$name" && echo "round trip: identical to $sample"
