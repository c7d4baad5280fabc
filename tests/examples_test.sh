#!/usr/bin/env bash
# The worked examples of docs/api.md: the code shown there is the code of
# examples/ to the byte, and each program does what the page says.
#   examples_test.sh CASE SOURCE_DIR EXAMPLES_DIR TAVRINE WORKDIR
set -euo pipefail

case_name=$1
source_dir=$2
examples=$3
tavrine=$4
work=$5

rm -rf "$work"
mkdir -p "$work"
cd "$work"

fail() {
  echo "FAIL [$case_name]: $*" >&2
  exit 1
}

# Some 100 KB of the repository's own text: several blocks, and the same
# bytes on every machine.
cat "$source_dir"/docs/*.md "$source_dir"/src/stream/*.cpp "$source_dir"/src/container/*.cpp >input

case_doc_matches_code() {
  # Each block that follows an "example:" marker is the named file.
  awk -v dir="$source_dir" '
    /^<!-- example: .* -->$/ { file = $3; next }
    file != "" && /^```/ && !open { open = 1; out = "shown-" ++n; print file > "files.txt"; next }
    open && /^```$/ { open = 0; file = ""; close(out); next }
    open { print > out }
  ' "$source_dir/docs/api.md"
  [ -s files.txt ] || fail "docs/api.md shows no example"
  local n=0 file
  while read -r file; do
    n=$((n + 1))
    diff -u "$source_dir/$file" "shown-$n" >/dev/null || fail "docs/api.md shows $file otherwise than it is"
  done <files.txt
  [ "$n" -eq 4 ] || fail "docs/api.md shows $n examples, expected 4"
}

case_one_shot() {
  "$examples/tavrine-one-shot" input >out.txt || fail "exited with $?: $(cat out.txt)"
  local size
  size=$(wc -c <input | tr -d ' ')
  grep -q "^$size bytes -> [0-9]* bytes -> $size bytes, the same$" out.txt || fail "round trip: $(cat out.txt)"
  grep -q "^damaged: corrupt data at stream offset [1-9][0-9]*, 8192 bytes decoded before it$" out.txt ||
    fail "damage: $(cat out.txt)"
}

case_stream_pipe() {
  "$examples/tavrine-stream-pipe" <input >stream
  "$tavrine" --raw -c <input | cmp - stream || fail "the stream differs from ZOLT_Encode's"
  "$examples/tavrine-stream-pipe" -d <stream | cmp - input || fail "decoding does not give the input back"
  head -c 5000 stream >cut
  local status=0
  "$examples/tavrine-stream-pipe" -d <cut >partial 2>err.txt || status=$?
  [ "$status" -eq 1 ] || fail "a cut stream exited with $status"
  # The first block ends before the cut, and comes out whole.
  local first
  first=$(od -An -tu2 -N2 stream | tr -d ' ')
  [ "$first" -lt 5000 ] || fail "the first block is not shorter than the cut"
  grep -q "truncated data at stream offset [1-9]" err.txt || fail "a cut stream said: $(cat err.txt)"
  head -c 8192 input | cmp - partial || fail "the block before the cut did not come out"
}

case_read_tvr() {
  "$tavrine" -q --segment-size 16K -c input >input.tvr
  "$examples/tavrine-read-tvr" input.tvr 2>err.txt | cmp - input || fail "decoding differs"
  grep -q "input.tvr: [0-9]* segments, $(wc -c <input | tr -d ' ') bytes decoded" err.txt || fail "$(cat err.txt)"
  local cut=$(($(wc -c <input.tvr) / 2))
  head -c $cut input.tvr >cut.tvr
  local status=0
  "$examples/tavrine-read-tvr" cut.tvr >partial 2>err.txt || status=$?
  [ "$status" -eq 1 ] || fail "a cut file exited with $status"
  grep -q "cut.tvr: truncated data at byte $cut: truncated after $cut bytes" err.txt || fail "$(cat err.txt)"
}

case_wrapper() {
  "$examples/tavrine-wrapper" input >out.txt || fail "exited with $?: $(cat out.txt)"
  grep -q "the same$" out.txt || fail "$(cat out.txt)"
  grep -q "^cut short: tavrine: truncated data at stream offset [0-9]* (status 2" out.txt || fail "$(cat out.txt)"
}

"case_$case_name"
