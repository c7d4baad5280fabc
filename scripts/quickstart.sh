#!/usr/bin/env bash
# Installs what is missing, builds tavrine, and compresses and decompresses a
# file of the standard corpus, showing sizes and speed.
# Usage: scripts/quickstart.sh [FILE]
set -euo pipefail
cd "$(dirname "$0")/.."
sample=${1:-../shared/corpus/canterbury/alice29.txt}

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)"
echo
build/examples/tavrine-roundtrip "$sample" 5
