#!/bin/sh
# tavrine taken into a host project with add_subdirectory: only the library is
# configured and built (no tests, tools or benchmarks, so none of GoogleTest,
# CLI11, benchmark or xxHash is looked for: the library compiles in the xxHash
# header it carries), the host's warnings are its own, and the host links and
# runs.
# Usage: check_embed.sh SOURCE_DIR
set -eu
source_dir=$1
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# A find_package of any of them would now fail the configuration.
cmake -S "$here/host" -B "$scratch/build" -G Ninja -DTAVRINE_SOURCE_DIR="$source_dir" \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_CLI11=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >/dev/null
if grep -v '^CMAKE_DISABLE_FIND_PACKAGE_' "$scratch/build/CMakeCache.txt" |
   grep -iE '^[A-Z_]*(GTest|CLI11|benchmark|XXHASH)[A-Z_]*:'; then
  echo "the embedded build looked for a dependency of tavrine's own tests or tools" >&2
  exit 1
fi
if grep -q -- '-Werror' "$scratch/build/compile_commands.json"; then
  echo "the embedded build turns the host's warnings into errors" >&2
  exit 1
fi
cmake --build "$scratch/build" >/dev/null
for target in tavrine_cli tavrine-datagen transform_tests tavrine-bench; do
  if cmake --build "$scratch/build" --target help | grep -q "^$target:"; then
    echo "the embedded build has the target $target" >&2
    exit 1
  fi
done
"$scratch/build/host"
