#!/usr/bin/env bash
# Installs what building needs, builds tavrine, and shows its main job on a
# sample: compress, list, decompress and compare, with sizes and speed.
# Without FILE the sample is 8 MB of generated English-like text.
# Usage: scripts/quickstart.sh [FILE]
set -euo pipefail
cd "$(dirname "$0")/.."
sample=${1:-}
if [ -n "$sample" ] && [ ! -f "$sample" ]; then
  echo "quickstart: $sample is not a file" >&2
  exit 2
fi

bash scripts/install-deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if [ -z "$sample" ]; then
  sample=$out/sample.txt
  build/tests/support/tavrine-datagen text 8000000 >"$sample"
  echo
  echo "sample: 8 MB of generated English-like text"
fi
name=$(basename "$sample")
tavrine=build/cli/tavrine
echo
echo "\$ tavrine -v -o $name.tvr $name"
"$tavrine" -v -f -o "$out/$name.tvr" "$sample"
echo "\$ tavrine -l $name.tvr"
"$tavrine" -l "$out/$name.tvr"
echo "\$ tavrine -d -v -o $name.out $name.tvr"
"$tavrine" -d -v -f -o "$out/$name.out" "$out/$name.tvr"
cmp "$sample" "$out/$name.out"
echo "round trip: identical to the sample"
