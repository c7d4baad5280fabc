#!/usr/bin/env bash
# End-to-end tests of the tavrine program. One case per CTest test:
#   cli_test.sh CASE TAVRINE HELPER SAMPLES WORKDIR
# SAMPLES is a directory of generated sample files (tavrine-datagen --samples).
# Each case works in its own empty WORKDIR and fails with a message on stderr.
# The case "corpus" runs the round trips over the external corpus that
# TAVRINE_CORPUS_DIR names, and reports itself skipped (77) without one.
set -euo pipefail

case_name=$1
tavrine=$2
helper=$3
samples=$4
work=$5
untavrine=$(dirname "$tavrine")/untavrine

rm -rf "$work"
mkdir -p "$work"
cd "$work"

fail() {
  echo "FAIL [$case_name]: $*" >&2
  exit 1
}

# expect_exit STATUS MESSAGE CMD...: CMD must exit with STATUS and, unless
# MESSAGE is empty, print MESSAGE on standard error (kept in err.txt).
expect_exit() {
  local want=$1 message=$2
  shift 2
  local got=0
  "$@" 2>err.txt || got=$?
  [ "$got" -eq "$want" ] || fail "'$*' exited with $got, expected $want; stderr: $(cat err.txt)"
  if [ -n "$message" ]; then
    grep -qF -- "$message" err.txt || fail "'$*': expected '$message' on stderr, got: $(cat err.txt)"
  fi
}

# The input files of the round trips: the generated samples, or the files of
# the directory in $inputs.
inputs=$samples
input_files() {
  local files
  files=$(find "$inputs" -type f ! -name SHA1SUM | LC_ALL=C sort)
  [ -n "$files" ] || fail "no input files in $inputs"
  printf '%s\n' "$files"
}

# Nothing but the named files may be in the directory: no temporary files left.
expect_only() {
  local actual expected
  actual=$(ls -A | grep -v '^err.txt$' | LC_ALL=C sort | tr '\n' ' ')
  expected=$(printf '%s\n' "$@" | LC_ALL=C sort | tr '\n' ' ')
  [ "$actual" = "$expected" ] || fail "directory holds '$actual', expected '$expected'"
}

file_size() { wc -c <"$1" | tr -d ' '; }

# --- round trips -----------------------------------------------------------

case_roundtrip_files() {
  local f name
  while read -r f; do
    name=$(basename "$(dirname "$f")")-$(basename "$f")
    cp "$f" "$name"
    "$tavrine" -q "$name"
    [ -f "$name" ] || fail "$name: the source was removed without --rm"
    rm "$name"
    "$tavrine" -dq "$name.tvr"
    cmp "$name" "$f" || fail "$name: round trip through files differs"
    [ -f "$name.tvr" ] || fail "$name.tvr: removed without --rm"
  done < <(input_files)
}

case_roundtrip_pipes() {
  local f
  while read -r f; do
    "$tavrine" <"$f" | "$tavrine" -d | cmp - "$f" || fail "$f: pipe round trip differs"
    cat "$f" | "$tavrine" -T2 - | "$untavrine" -T2 - >out || fail "$f: pipe through untavrine failed"
    cmp out "$f" || fail "$f: pipe round trip through untavrine differs"
  done < <(input_files)
}

case_roundtrip_stdout() {
  local f
  while read -r f; do
    "$tavrine" -c "$f" >x.tvr
    "$tavrine" -dc x.tvr | cmp - "$f" || fail "$f: -c round trip differs"
    "$tavrine" -f -o named.tvr "$f"
    "$tavrine" -df -o back named.tvr
    cmp back "$f" || fail "$f: -o round trip differs"
  done < <(input_files)
  # Several files to standard output make one stream of members.
  local a=$samples/text-4k b=$samples/text-25k
  "$tavrine" -c "$a" "$b" >ab.tvr
  cat "$a" "$b" | cmp - <("$tavrine" -dc ab.tvr) || fail "two files through -c do not decode to both"
}

case_concatenation() {
  local a=$samples/text-150k b=$samples/constant-100k
  "$tavrine" -c "$a" >a.tvr
  "$tavrine" -c --variant 0 --segment-size 16K "$b" >b.tvr
  "$tavrine" -c </dev/null >empty.tvr
  cat a.tvr empty.tvr b.tvr >ab.tvr
  cat "$a" "$b" | cmp - <("$tavrine" -dc ab.tvr) || fail "concatenated files do not decode to the concatenation"
  "$tavrine" -t ab.tvr || fail "-t refuses concatenated files"
  "$tavrine" -l ab.tvr >list.txt
  grep -qF "(3 members)" list.txt || fail "-l does not count members: $(cat list.txt)"
  printf 'trailing' >>ab.tvr
  expect_exit 1 "ab.tvr: unknown data after the end frame" "$tavrine" -t ab.tvr
}

case_threads_identical() {
  local f t size threads
  while read -r f; do
    for size in 1M 64K; do
      "$tavrine" -T1 --segment-size $size -c "$f" >one.tvr
      threads=2
      [ $size = 1M ] || threads="2 3"
      for t in $threads; do
        "$tavrine" -T$t --segment-size $size -c "$f" >many.tvr
        cmp one.tvr many.tvr || fail "$f: -T1 and -T$t differ (segment size $size)"
        "$tavrine" -T$t -dc one.tvr | cmp - "$f" || fail "$f: decoding with -T$t differs"
      done
    done
  done < <(input_files)
}

# --- damage ------------------------------------------------------------------

case_test_mode() {
  local name=alice.txt
  cp "$samples/text-150k" $name
  "$tavrine" -q --segment-size 16K $name
  "$tavrine" -t $name.tvr || fail "-t refuses a good file"
  expect_exit 0 "$name.tvr: " "$tavrine" -tv $name.tvr
  grep -qF "OK" err.txt || fail "-tv does not say OK: $(cat err.txt)"
  local size offsets
  size=$(file_size $name.tvr)

  cp $name.tvr bad.tvr
  read -r _ stream stored < <("$helper" segment-offset bad.tvr 3)
  "$helper" flip bad.tvr $((stream + stored / 2)) 3
  expect_exit 1 "bad.tvr: checksum mismatch in segment 3 — the file is corrupted" "$tavrine" -t bad.tvr

  cp $name.tvr bad.tvr
  "$helper" flip bad.tvr 9 0
  expect_exit 1 "bad.tvr: damaged file header — the file is corrupted" "$tavrine" -t bad.tvr
  cp $name.tvr bad.tvr
  "$helper" flip bad.tvr 1 6
  expect_exit 1 "bad.tvr: not a tavrine file" "$tavrine" -t bad.tvr

  cp $name.tvr bad.tvr
  read -r frame _ _ < <("$helper" segment-offset bad.tvr 2)
  "$helper" flip bad.tvr $((frame + 9)) 2
  expect_exit 1 "bad.tvr: damaged frame of segment 2 — the file is corrupted" "$tavrine" -t bad.tvr

  cp $name.tvr bad.tvr
  "$helper" flip bad.tvr -6 5
  expect_exit 1 "bad.tvr: damaged end frame — the file is corrupted" "$tavrine" -t bad.tvr

  local cut
  for cut in 0 3 16 30 100 $((size / 2)) $((size - 28)) $((size - 1)); do
    head -c $cut $name.tvr >cut.tvr
    if [ $cut -eq 0 ]; then
      expect_exit 1 "cut.tvr: not a tavrine file (it is empty)" "$tavrine" -t cut.tvr
    else
      expect_exit 1 "cut.tvr: truncated after $cut bytes" "$tavrine" -t cut.tvr
    fi
    # Decompressing leaves no output behind and keeps the source.
    expect_exit 1 "cut.tvr: " "$tavrine" -d --rm -o cut.out cut.tvr
  done
  [ -f cut.tvr ] || fail "a failed decompression removed its source"
  [ ! -e cut.out ] || fail "a failed decompression left its output"
  expect_only $name $name.tvr bad.tvr cut.tvr

  # Foreign data.
  expect_exit 1 "$name: not a tavrine file" "$tavrine" -t $name
  # Several files: the bad one fails, the others are still tested.
  expect_exit 1 "bad.tvr: damaged end frame" "$tavrine" -t bad.tvr $name.tvr
}

case_failed_output_removed() {
  cp "$samples/text-1m" doc
  "$tavrine" -q --segment-size 64K doc
  read -r _ stream _ < <("$helper" segment-offset doc.tvr 5)
  "$helper" flip doc.tvr $((stream + 10)) 0
  rm doc
  expect_exit 1 "doc.tvr: checksum mismatch in segment 5" "$tavrine" -d doc.tvr
  expect_only doc.tvr
  # Writing to standard output, the verified segments before the damage come out.
  expect_exit 1 "checksum mismatch in segment 5" "$tavrine" -dc doc.tvr >partial
  [ "$(file_size partial)" -eq $((4 * 65536)) ] || fail "standard output got $(file_size partial) bytes"
  cmp partial <(head -c $((4 * 65536)) "$samples/text-1m") || fail "the verified part differs"
}

case_interrupt() {
  # A compression killed by a signal leaves neither its output nor its temporary file.
  mkfifo slow
  "$tavrine" -o out.tvr - <slow &
  local pid=$!
  exec 3>slow
  printf 'some data' >&3
  local tries=0
  while [ -z "$(ls -A | grep '^\.out\.tvr\.' || true)" ]; do
    tries=$((tries + 1))
    [ $tries -lt 100 ] || fail "no temporary output appeared"
    sleep 0.05
  done
  kill -INT $pid
  local status=0
  wait $pid || status=$?
  exec 3>&-
  [ $status -ne 0 ] || fail "an interrupted compression reported success"
  expect_only slow
}

# --- raw streams ---------------------------------------------------------------

case_raw() {
  local f variant name
  for f in text-150k records-1m runs-500k one-byte random-100k; do
    for variant in 0 5; do
      "$tavrine" --raw --variant $variant -c "$samples/$f" >tool.raw
      "$helper" raw-encode $variant "$samples/$f" module.raw
      cmp tool.raw module.raw || fail "$f: --raw differs from ZOLT_Encode's stream (variant $variant)"
      "$tavrine" --raw -dc tool.raw | cmp - "$samples/$f" || fail "$f: raw decoding differs"
    done
  done
  : >empty
  "$tavrine" --raw -c empty >empty.raw
  [ "$(file_size empty.raw)" -eq 0 ] || fail "an empty input gives a non-empty raw stream"
  cp "$samples/text-25k" fields.c
  "$tavrine" --raw fields.c
  [ -f fields.c.tvraw ] || fail "--raw does not name its output FILE.tvraw"
  mv fields.c fields.orig
  "$tavrine" --raw -d fields.c.tvraw
  cmp fields.c fields.orig || fail "raw round trip through files differs"
  expect_exit 1 "fields.c.tvraw: not a tavrine file" "$tavrine" -dc fields.c.tvraw
  head -c 100 fields.c.tvraw >cut.tvraw
  expect_exit 1 "cut.tvraw: not a bare tavrine stream, or a damaged one" "$tavrine" --raw -t cut.tvraw
  "$tavrine" --raw -l fields.c.tvraw >list.txt
  grep -q "fields.c.tvraw" list.txt || fail "--raw -l lists nothing"
}

# --- file handling ---------------------------------------------------------------

case_force() {
  cp "$samples/text-4k" g
  chmod 640 g
  "$tavrine" g
  [ "$(stat -c %a g.tvr)" = 640 ] || fail "the output does not keep the source's permissions"
  printf 'precious' >g.tvr
  expect_exit 1 "g.tvr: already exists; use -f to overwrite" "$tavrine" g
  [ "$(cat g.tvr)" = precious ] || fail "an existing output was touched without -f"
  "$tavrine" -f g
  "$tavrine" -dc g.tvr | cmp - g || fail "-f did not write a good output"
  expect_exit 1 "g: already exists; use -f to overwrite" "$tavrine" -d g.tvr
  cmp g "$samples/text-4k" || fail "decompression touched an existing file without -f"
  printf 'other' >g
  "$tavrine" -df g.tvr
  cmp g "$samples/text-4k" || fail "-df did not restore the file"
  expect_exit 1 "g.tvr: already has the .tvr suffix" "$tavrine" g.tvr
  expect_exit 1 "g: unknown suffix, expected .tvr" "$tavrine" -d g
  expect_exit 1 "is the input file itself" "$tavrine" -f -o g g
  expect_only g g.tvr
}

case_remove_source() {
  cp "$samples/text-25k" page
  "$tavrine" --rm page
  [ ! -e page ] || fail "--rm kept the source"
  "$tavrine" -d --rm page.tvr
  [ ! -e page.tvr ] || fail "--rm kept the compressed source"
  cmp page "$samples/text-25k" || fail "--rm round trip differs"
  # Not after a failure: the output exists, or the input is damaged.
  "$tavrine" page
  expect_exit 1 "already exists" "$tavrine" --rm page
  [ -f page ] || fail "--rm removed the source of a failed compression"
  rm page
  "$helper" flip page.tvr 40 1
  expect_exit 1 "page.tvr: " "$tavrine" -d --rm page.tvr
  [ -f page.tvr ] || fail "--rm removed the source of a failed decompression"
  expect_only page.tvr
  # Never with -c.
  cp "$samples/text-25k" page
  "$tavrine" -c --rm page >/dev/null
  [ -f page ] || fail "--rm with -c removed the source"
}

case_usage() {
  cp "$samples/text-4k" a
  expect_exit 2 "--help" "$tavrine" --bogus a
  expect_exit 2 "" "$tavrine" -o x a a
  expect_exit 2 "" "$tavrine" --variant 3 a
  expect_exit 2 "" "$tavrine" -T 999 a
  expect_exit 2 "" "$tavrine" -t -l a
  expect_exit 2 "" "$tavrine" -k --rm a
  expect_exit 2 "" "$tavrine" --segment-size 1K a
  expect_exit 0 "" "$tavrine" -h
  "$tavrine" -V | grep -qF "codec interface version 0x007D84A0" || fail "-V does not show the interface version"
  expect_only a
  # A missing file or a directory fails, and the other files are still done.
  mkdir dir
  expect_exit 1 "missing: no such file or directory" "$tavrine" missing a dir
  grep -qF "dir: is a directory" err.txt || fail "a directory is not refused: $(cat err.txt)"
  [ -f a.tvr ] || fail "the good file after a missing one was not compressed"
  # A full disk is named as such.
  if [ -w /dev/full ]; then
    expect_exit 1 "stdout: no space left on device" "$tavrine" -c a >/dev/full
    expect_exit 1 "stdout: no space left on device" "$tavrine" -dc a.tvr >/dev/full
  fi
}

case_terminal() {
  cp "$samples/text-4k" a
  expect_exit 1 "refusing to write compressed data to a terminal" "$helper" tty 1 screen.txt "$tavrine" -c a
  [ ! -s screen.txt ] || fail "compressed data reached the terminal"
  expect_exit 0 "" "$helper" tty 1 screen.txt "$tavrine" -cf a
  [ -s screen.txt ] || fail "-f did not write to the terminal"
  expect_exit 1 "refusing to read compressed data from a terminal" "$helper" tty 0 screen.txt "$tavrine" -d
  # Decompressed data may go to a terminal.
  "$tavrine" a
  expect_exit 0 "" "$helper" tty 1 screen.txt "$tavrine" -dc a.tvr
  # -q: no progress line even on a terminal.
  local text=$samples/text-1m
  cat "$text" "$text" "$text" "$text" >book.txt
  "$helper" tty 2 progress.txt "$tavrine" -q -T1 -c book.txt >/dev/null
  [ ! -s progress.txt ] || fail "-q still shows progress"
  # A progress line, when one was shown, is cleared at the end.
  "$helper" tty 2 progress.txt "$tavrine" -T1 -c book.txt >/dev/null
  if [ -s progress.txt ]; then
    grep -qF "book.txt" progress.txt || fail "the progress line does not name the file"
    [ "$(tail -c 1 progress.txt | od -An -c | tr -d ' ')" = '\r' ] || fail "the progress line was not cleared"
  fi
}

case_list() {
  cp "$samples/text-150k" alice
  "$tavrine" --segment-size 64K alice
  "$tavrine" --variant 0 -c "$samples/constant-100k" >aaa.tvr
  "$tavrine" -l alice.tvr aaa.tvr >list.txt
  local header row total
  header=$(sed -n 1p list.txt)
  row=$(sed -n 2p list.txt)
  total=$(sed -n 4p list.txt)
  for word in segments blocks coded uncoded compressed uncompressed ratio checksum name; do
    [[ $header == *$word* ]] || fail "the listing header lacks '$word': $header"
  done
  read -r segments blocks coded uncoded compressed uncompressed _ <<<"$row"
  [ "$segments $blocks $uncompressed" = "3 19 150000" ] || fail "alice.tvr listed as: $row"
  [ $((coded + uncoded)) -eq 19 ] || fail "coded and uncoded blocks do not add up: $row"
  [ "$compressed" -eq "$(file_size alice.tvr)" ] || fail "compressed size is not the file size: $row"
  read -r _ _ coded _ <<<"$(sed -n 3p list.txt)"
  [ "$coded" -eq 0 ] || fail "variant 0 listed with coded blocks"
  [[ $total == *"(2 files)"* ]] || fail "no totals line: $total"
}

case_big_pipe() {
  # 50 MB from a pipe: bounded memory, exact round trip.
  # Sanitizer builds pass 0: their shadow memory makes the figure meaningless.
  local source=$samples/text-1m limit_kib=${TAVRINE_RSS_LIMIT_KIB:-$((24 * 1024))}
  local copies=$((50000000 / $(file_size "$source")))
  generate() {
    for _ in $(seq $copies); do cat "$source"; done
    head -c $((50000000 - copies * $(file_size "$source"))) "$source"
  }
  generate | "$helper" peak-rss rss-compress.txt "$tavrine" -T2 -c >big.tvr
  generate | cmp - <("$helper" peak-rss rss-decompress.txt "$tavrine" -T2 -dc big.tvr) ||
    fail "the 50 MB round trip differs"
  local compress_kib decompress_kib
  compress_kib=$(cat rss-compress.txt)
  decompress_kib=$(cat rss-decompress.txt)
  echo "peak RSS for 50 MB through a pipe, -T2: compress ${compress_kib} KiB, decompress ${decompress_kib} KiB"
  [ "$limit_kib" -gt 0 ] || return 0
  [ "$compress_kib" -lt "$limit_kib" ] || fail "compression peaked at ${compress_kib} KiB"
  [ "$decompress_kib" -lt "$limit_kib" ] || fail "decompression peaked at ${decompress_kib} KiB"
}

# --- the external corpus, when there is one ------------------------------------

case_corpus() {
  if [ -z "${TAVRINE_CORPUS_DIR:-}" ]; then
    echo "no external corpus: set TAVRINE_CORPUS_DIR to run the corpus round trips"
    exit 77
  fi
  inputs=$TAVRINE_CORPUS_DIR
  case_roundtrip_files
  case_roundtrip_pipes
  case_threads_identical
}

"case_$case_name"
