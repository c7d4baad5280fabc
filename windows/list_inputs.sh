#!/bin/sh
# Writes the generated samples with the native build's tavrine-datagen and
# lists them, and every file of the external corpus when one is named, one
# path per line: the inputs that the module's streams are compared on.
# Usage: list_inputs.sh DATAGEN SAMPLES_DIR LISTFILE [CORPUS_DIR]
set -eu
datagen=$1
samples=$2
list=$3
corpus=${4:-}
rm -rf "$samples"
"$datagen" --samples "$samples"
find "$samples" -type f | LC_ALL=C sort >"$list"
if [ -n "$corpus" ]; then
  [ -d "$corpus" ] || { echo "no corpus at $corpus" >&2; exit 1; }
  find "$corpus" -type f ! -name SHA1SUM | LC_ALL=C sort >>"$list"
fi
[ -s "$list" ] || { echo "no inputs listed" >&2; exit 1; }
echo "$(wc -l <"$list") inputs listed in $list"
