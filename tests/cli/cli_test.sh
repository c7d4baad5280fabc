#!/usr/bin/env bash
# End-to-end tests of the tavrine program. One case per CTest test:
#   cli_test.sh CASE TAVRINE HELPER SAMPLES WORKDIR
# SAMPLES is a directory of generated sample files (tavrine-datagen --samples).
# Each case works in its own empty WORKDIR and fails with a message on stderr;
# a case that cannot run here exits with 77 (skipped) and says why. The case
# "corpus" runs the round trips over the external corpus that
# TAVRINE_CORPUS_DIR names, and is skipped without one.
set -euo pipefail

case_name=$1
tavrine=$2
helper=$3
samples=$4
work=$5
untavrine=$(dirname "$tavrine")/untavrine
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

rm -rf "$work"
mkdir -p "$work"
cd "$work"

fail() {
  echo "FAIL [$case_name]: $*" >&2
  exit 1
}

skip() {
  echo "SKIP [$case_name]: $*"
  exit 77
}

is_root() { [ "$(id -u)" -eq 0 ]; }

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

# wait_for_output PID: until PID holds its output open in the work directory
# (an unnamed file, or a hidden temporary one), which happens after it has
# installed its signal handlers.
wait_for_output() {
  local tries=0
  until ls -l "/proc/$1/fd" 2>/dev/null | grep -qF -e "$PWD/#" -e "$PWD/.out"; do
    tries=$((tries + 1))
    [ $tries -lt 200 ] || fail "process $1 did not open its output"
    sleep 0.05
  done
}

# through_fifo FIFO OUT CMD...: runs CMD (stderr in err.txt) while a reader
# copies FIFO into OUT; returns CMD's status. A reader that CMD never met is
# released afterwards, so that a failing CMD cannot hang the test.
through_fifo() {
  local fifo=$1 out=$2
  shift 2
  cat "$fifo" >"$out" &
  local reader=$! status=0
  "$@" 2>err.txt || status=$?
  exec 4<>"$fifo"
  exec 4>&-
  wait $reader
  return $status
}

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
  expect_exit 1 "bad.tvr: checksum mismatch in segment 3 -- the file is corrupted" "$tavrine" -t bad.tvr

  cp $name.tvr bad.tvr
  "$helper" flip bad.tvr 9 0
  expect_exit 1 "bad.tvr: damaged file header -- the file is corrupted" "$tavrine" -t bad.tvr
  cp $name.tvr bad.tvr
  "$helper" flip bad.tvr 1 6
  expect_exit 1 "bad.tvr: not a tavrine file" "$tavrine" -t bad.tvr

  cp $name.tvr bad.tvr
  read -r frame _ _ < <("$helper" segment-offset bad.tvr 2)
  "$helper" flip bad.tvr $((frame + 9)) 2
  expect_exit 1 "bad.tvr: damaged frame of segment 2 -- the file is corrupted" "$tavrine" -t bad.tvr

  cp $name.tvr bad.tvr
  "$helper" flip bad.tvr -6 5
  expect_exit 1 "bad.tvr: damaged end frame -- the file is corrupted" "$tavrine" -t bad.tvr

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
  # A compression ended by a signal leaves neither its output nor a temporary
  # file; not even SIGKILL, which no handler sees. (A background job starts
  # with SIGINT ignored, and keeps it so.)
  mkfifo slow
  local signals="TERM KILL" pid status
  if ! "$helper" unnamed-files .; then
    echo "SKIP [$case_name]: SIGKILL: this file system makes no unnamed files, so a temporary file stays"
    signals=TERM
  fi
  local signal
  for signal in $signals; do
    "$tavrine" -o out.tvr - <slow &
    pid=$!
    exec 3>slow
    printf 'some data' >&3
    wait_for_output $pid
    kill -$signal $pid
    status=0
    wait $pid || status=$?
    exec 3>&-
    [ $status -ne 0 ] || fail "a compression ended by SIG$signal reported success"
    expect_only slow
  done
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
  "$tavrine" -dc fields.c.tvraw | cmp - fields.orig || fail "the .tvraw suffix does not imply --raw"
  head -c 100 fields.c.tvraw >cut.tvraw
  expect_exit 1 "cut.tvraw: not a bare tavrine stream, or a damaged one" "$tavrine" --raw -t cut.tvraw
  "$tavrine" --raw -l fields.c.tvraw >list.txt
  grep -q "fields.c.tvraw" list.txt || fail "--raw -l lists nothing"
}

case_raw_limit() {
  # A bare stream holds at most 4 GiB - 1 input bytes. A file whose size says
  # more is refused before anything is read: no stream byte comes out.
  local limit=4294967295 limit_kib=${TAVRINE_RSS_LIMIT_KIB:-$((24 * 1024))}
  truncate -s $((limit + 1)) big
  expect_exit 1 "big: too large for --raw: a bare stream holds at most 4 GiB - 1 bytes" \
    "$helper" peak-rss rss.txt "$tavrine" --raw -c big >big.raw
  [ ! -s big.raw ] || fail "--raw encoded part of an input it refuses"
  [ "$limit_kib" -eq 0 ] || [ "$(cat rss.txt)" -lt "$limit_kib" ] || fail "read the input first: $(cat rss.txt) KiB"
  expect_exit 1 "too large for --raw" "$tavrine" --raw big
  expect_only big big.raw rss.txt
  # From a pipe the size shows only as the input passes the limit: the tool
  # stops reading there, in bounded memory, and says why.
  local status=0
  { head -c $((limit + 1000000)) /dev/zero; echo $? >writer.status; } |
    "$helper" peak-rss rss.txt "$tavrine" --raw --variant 0 -c >/dev/null 2>err.txt || status=$?
  [ "$status" -eq 1 ] || fail "a pipe past the limit exited with $status: $(cat err.txt)"
  grep -qF "too large for --raw" err.txt || fail "a pipe past the limit said: $(cat err.txt)"
  [ "$(cat writer.status)" -ne 0 ] || fail "the whole pipe was read, not only up to the limit"
  echo "peak RSS streaming 4 GiB from a pipe: $(cat rss.txt) KiB"
  [ "$limit_kib" -eq 0 ] || [ "$(cat rss.txt)" -lt "$limit_kib" ] || fail "peaked at $(cat rss.txt) KiB"
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

case_memory_limit() {
  # A file of 3 MB whose segments announce 32 MiB each: -T8 would
  # hold all seven at once, 224 MiB; --memory holds it to two, and a limit
  # below one segment is refused with the option that allows it.
  local segment=$((32 << 20)) limit_kib=${TAVRINE_RSS_LIMIT_KIB:-$((24 * 1024))}
  head -c $((7 * segment)) /dev/zero | "$tavrine" -T2 --segment-size 32M -c >zeros.tvr
  [ "$(file_size zeros.tvr)" -lt 4000000 ] || fail "zeros.tvr is $(file_size zeros.tvr) bytes"
  "$helper" peak-rss rss-limited.txt "$tavrine" -T8 --memory=80M -t zeros.tvr ||
    fail "-t --memory=80M failed: $(cat err.txt 2>/dev/null)"
  "$helper" peak-rss rss-default.txt "$tavrine" -T8 -t zeros.tvr || fail "-t with the default limit failed"
  local limited_kib default_kib
  limited_kib=$(cat rss-limited.txt)
  default_kib=$(cat rss-default.txt)
  echo "peak RSS testing 7 segments of 32 MiB, -T8: --memory=80M ${limited_kib} KiB, default ${default_kib} KiB"
  if [ "$limit_kib" -gt 0 ]; then
    [ "$limited_kib" -lt $((80 * 1024 + limit_kib)) ] || fail "--memory=80M peaked at ${limited_kib} KiB"
    [ "$default_kib" -gt $((150 * 1024)) ] || fail "the default limit held only ${default_kib} KiB"
  fi
  expect_exit 1 "segment 1 needs 33" "$tavrine" -T8 --memory=16M -d zeros.tvr
  grep -qF -- "a larger --memory allows it" err.txt || fail "the refusal names no option: $(cat err.txt)"
  expect_only zeros.tvr rss-limited.txt rss-default.txt
  "$tavrine" -T8 --memory=33M -dc zeros.tvr | cmp - <(head -c $((7 * segment)) /dev/zero) ||
    fail "one segment at a time gives other bytes"
}

# --- data the user cares about ---------------------------------------------------

case_special_outputs() {
  # Devices and FIFOs named as outputs are written in place, never replaced,
  # with or without -f; only a throwaway device of the test's own is ever
  # named with -f.
  seq 1 20000 >data
  "$tavrine" -c data >data.tvr
  "$tavrine" -o /dev/null data || fail "-o /dev/null is refused"
  "$tavrine" -d -o /dev/null data.tvr || fail "-d -o /dev/null is refused"
  mkfifo pipe
  local force
  for force in "" -f; do
    through_fifo pipe got.tvr "$tavrine" $force -o pipe data || fail "-o FIFO $force: $(cat err.txt)"
    [ -p pipe ] || fail "the FIFO was replaced ($force)"
    "$tavrine" -dc got.tvr | cmp - data || fail "the FIFO did not receive the compressed data ($force)"
  done
  through_fifo pipe got "$tavrine" -df -o pipe data.tvr || fail "-d -o FIFO: $(cat err.txt)"
  [ -p pipe ] && cmp got data || fail "decompressing into a FIFO"
  # A pipe keeps nothing the tool can vouch for: --rm keeps the source.
  cp data source
  through_fifo pipe got.tvr "$tavrine" --rm -o pipe source || fail "--rm -o FIFO: $(cat err.txt)"
  [ -f source ] || fail "--rm removed a source whose output went into a FIFO"
  grep -qF "source: kept: the output is not a regular file" err.txt || fail "no note: $(cat err.txt)"
  expect_only data data.tvr pipe got got.tvr source
  if ! is_root || ! mknod null c 1 3; then
    echo "SKIP [$case_name]: character device outputs: making a device needs root and CAP_MKNOD"
    return 0
  fi
  "$tavrine" -f -o null data || fail "-f -o DEVICE failed"
  "$tavrine" -df -o null data.tvr || fail "-df -o DEVICE failed"
  [ -c null ] || fail "-f replaced a device named with -o"
  # A derived name (FILE.tvr) that is a device: refused without -f, written in place with it.
  cp data other
  mknod other.tvr c 1 3
  expect_exit 1 "other.tvr: already exists" "$tavrine" other
  "$tavrine" -f other || fail "-f into a device of the derived name failed"
  [ -c other.tvr ] || fail "-f replaced a device of the derived name"
}

case_changed_inputs() {
  # A file that grows while it is read is reported, with or without --rm; the
  # output stays. The tool waits on a full pipe, having read the start only.
  seq 1 400000 >growing
  mkfifo pipe
  "$tavrine" -T1 --segment-size 64K -c growing >pipe 2>err.txt &
  local pid=$!
  exec 3<pipe
  head -c 16 <&3 >/dev/null
  seq 1 10 >>growing
  cat <&3 >/dev/null
  exec 3<&-
  local status=0
  wait $pid || status=$?
  [ $status -eq 1 ] || fail "an input that grew while it was read: exit $status"
  grep -qF "growing: changed while it was read" err.txt || fail "not said: $(cat err.txt)"
  # One that shrinks, compressed or decompressed from its mapping, is said
  # too, and ends the tool with status 1 rather than a crash: the tool
  # waits on a full pipe with most of the file still to read.
  seq 1 400000 >shrinking
  "$tavrine" -T1 --segment-size 64K -c shrinking >shrinking.tvr
  local args
  for args in "-c shrinking" "-dc shrinking.tvr"; do
    cp shrinking.tvr kept.tvr
    # shellcheck disable=SC2086
    "$tavrine" -T1 $args >pipe 2>err.txt &
    pid=$!
    exec 3<pipe
    head -c 16 <&3 >/dev/null
    : >"${args##* }"
    cat <&3 >/dev/null
    exec 3<&-
    status=0
    wait $pid || status=$?
    [ $status -eq 1 ] || fail "'tavrine $args' on a file that shrank: exit $status, $(cat err.txt)"
    grep -qF "${args##* }: the file shrank, or could not be read, while the program worked on it" err.txt ||
      fail "not said: $(cat err.txt)"
    seq 1 400000 >shrinking
    mv kept.tvr shrinking.tvr
  done
  # --rm removes only the very file that was read: not a symbolic link to it,
  seq 1 30000 >source
  cp source original
  ln -s original link
  expect_exit 1 "link: is a symbolic link; not removed" "$tavrine" --rm link
  [ -L link ] && [ -f original ] || fail "--rm on a link removed something"
  # nor a new file that took the source's name while the tool was opening it.
  seq 5 9 >newer
  status=0
  "$helper" on-open source "mv newer source" "$tavrine" --rm source 2>err.txt || status=$?
  if [ $status -eq 77 ]; then
    echo "SKIP [$case_name]: a source replaced while it is read: no file leases here: $(cat err.txt)"
    return 0
  fi
  [ $status -eq 1 ] || fail "a source replaced while it was read: exit $status, $(cat err.txt)"
  grep -qF "source: was replaced while it was read; not removed" err.txt || fail "not said: $(cat err.txt)"
  cmp source <(seq 5 9) || fail "--rm removed the file that replaced the source"
  "$tavrine" -dc source.tvr | cmp - original || fail "the output does not hold the file that was read"
}

case_ignored_signals() {
  # Signals ignored by whoever started the tool (nohup, trap '' INT) stay
  # ignored: the compression goes on.
  seq 1 50000 >data
  mkfifo slow
  (trap '' HUP INT && exec "$tavrine" -o out.tvr - <slow) &
  local pid=$!
  exec 3>slow
  head -c 1000 data >&3
  wait_for_output $pid
  kill -HUP $pid
  kill -INT $pid
  tail -c +1001 data >&3 || true  # fails when the tool is gone
  exec 3>&-
  wait $pid || fail "the tool died of a signal it was started with ignored"
  "$tavrine" -dc out.tvr | cmp - data || fail "the output after ignored signals differs"
}

case_long_names() {
  # Names up to the file system's limit: a 251-byte name makes a 255-byte
  # .tvr, new and replaced, and back.
  local max name
  max=$(getconf NAME_MAX .)
  name=$(head -c $((max - 4)) /dev/zero | tr '\0' n)
  seq 1 5000 >"$name"
  "$tavrine" "$name" || fail "a $((max - 4))-byte name cannot be compressed"
  "$tavrine" -f "$name" || fail "a $max-byte output cannot be replaced"
  mv "$name" original
  "$tavrine" -d "$name.tvr" || fail "a $max-byte name cannot be decompressed"
  "$tavrine" -df "$name.tvr" || fail "a $((max - 4))-byte output cannot be replaced"
  cmp "$name" original || fail "the round trip through long names differs"
  expect_only "$name" "$name.tvr" original
}

case_closed_descriptors() {
  # Started with descriptors 0 and 2 closed, the tool must not let its input
  # or output take them: the progress line would go into the output. The
  # pause lets the progress line become due.
  seq 1 20000 >data
  mkfifo feed
  "$tavrine" --progress --segment-size 4K -T1 -o out.tvr feed <&- 2>&- &
  local pid=$!
  exec 3>feed
  head -c 8192 data >&3
  sleep 0.3
  tail -c +8193 data >&3
  exec 3>&-
  wait $pid || fail "the tool failed with descriptors 0 and 2 closed"
  "$tavrine" -dc out.tvr | cmp - data || fail "the output is damaged with descriptors 0 and 2 closed"
  # With 1 closed, a listing goes nowhere rather than into a file.
  "$tavrine" -c data >data.tvr
  "$tavrine" -l data.tvr >&- || fail "listing with standard output closed"
  "$tavrine" -t data.tvr || fail "the listing went into the file it listed"
}

# --- behaving like the tools people know ---------------------------------------

case_levels() {
  # -1 ... -9, --fast and --best are accepted and change nothing.
  seq 1 20000 >data
  "$tavrine" -c data >plain.tvr
  local option
  for option in -1 -9 -6c --fast --best -9kT2; do
    "$tavrine" $option -c data | cmp - plain.tvr || fail "'$option' is refused or changes the output"
  done
  # As tar runs it: compressing with the options given, decompressing with -d.
  mkdir dir
  cp data dir/
  tar -I "$tavrine -9" -cf dir.tar.tvr dir || fail "tar -I '$tavrine -9' failed"
  "$tavrine" -t dir.tar.tvr || fail "tar made a bad file"
  mkdir back
  tar -I "$tavrine" -xf dir.tar.tvr -C back || fail "tar -I tavrine -x failed"
  cmp back/dir/data data || fail "the archive's round trip differs"
}

case_recursive() {
  # -r goes through directories; symbolic links below the top are not followed.
  mkdir -p tree/sub/deeper
  seq 1 3000 >tree/a
  seq 1 4000 >tree/sub/b
  seq 1 5000 >tree/sub/deeper/c
  seq 1 10 >outside
  ln -s ../outside tree/link
  ln -s .. tree/sub/up
  "$tavrine" -r tree || fail "-r failed"
  local f
  for f in tree/a tree/sub/b tree/sub/deeper/c; do
    [ -f $f.tvr ] || fail "-r did not compress $f"
  done
  [ ! -e tree/link.tvr ] && [ ! -e outside.tvr ] || fail "-r followed a symbolic link"
  [ -z "$(find tree -name '*.tvr.tvr')" ] || fail "-r compressed a .tvr file again"
  rm tree/a tree/sub/b tree/sub/deeper/c
  "$tavrine" -dr tree || fail "-dr failed"
  cmp tree/sub/deeper/c <(seq 1 5000) || fail "-dr round trip differs"
  # A link named at the top is followed.
  ln -s tree top
  "$tavrine" -tr top || fail "-tr through a top-level link failed"
  [ "$("$tavrine" -lr top | grep -c '\.tvr$')" -eq 3 ] || fail "-lr did not list the three files"
}

case_refusals() {
  # Refusals say what to do, in the tool's own words, in ASCII; --help is
  # written for people.
  seq 1 20000 >data
  "$tavrine" --raw -c data >data.raw
  "$tavrine" -c data >data.tvr
  : >messages.txt
  refuse() {
    expect_exit "$@"
    cat err.txt >>messages.txt
  }
  local hint="data.raw: not a tavrine file, but it parses as a bare stream: use --raw"
  refuse 1 "$hint" "$tavrine" -t data.raw
  refuse 1 "$hint" "$tavrine" -l data.raw
  refuse 1 "$hint" "$tavrine" -dc data.raw
  refuse 1 "data.raw: unknown suffix, expected .tvr -- skipped (name the output with -o or use -c); it parses as a bare stream: use --raw" \
    "$tavrine" -d data.raw
  refuse 1 "data.tvr: a .tvr file, not a bare stream: leave out --raw" "$tavrine" -d --raw data.tvr
  refuse 1 "stdin: a .tvr file, not a bare stream: leave out --raw" "$tavrine" -dc --raw - <data.tvr
  refuse 1 "data: not a tavrine file" "$tavrine" -t data
  ! grep -q "bare stream" err.txt || fail "text is taken for a bare stream"
  # The .tvraw suffix implies --raw, unless the file is a .tvr file.
  mv data.raw data.tvraw
  cp data.tvr disguised.tvraw
  "$tavrine" -dc data.tvraw | cmp - data || fail ".tvraw does not imply --raw"
  "$tavrine" -dc disguised.tvraw | cmp - data || fail "a .tvr file named .tvraw is read as a bare stream"
  mv data original
  "$tavrine" -d data.tvraw && cmp data original || fail "-d on a .tvraw file"
  mkdir dir
  cp data.tvr bad.tvr
  "$helper" flip bad.tvr -6 5
  refuse 1 "bad.tvr: damaged end frame -- the file is corrupted" "$tavrine" -t bad.tvr
  refuse 1 "dir: is a directory -- skipped (-r goes through directories)" "$tavrine" dir
  refuse 1 "data.tvr: already has the .tvr suffix -- left unchanged" "$tavrine" data.tvr
  refuse 2 "-T: 'abc' is not a number of threads from 0 to 256" "$tavrine" -T abc data
  refuse 2 "--threads: '999' is not a number of threads from 0 to 256" "$tavrine" --threads=999 data
  refuse 2 "--variant: '3' is not a variant: 0 or 5" "$tavrine" --variant 3 data
  refuse 2 "--segment-size: '1K' is not a size from 4K to 64M" "$tavrine" --segment-size=1K data
  refuse 2 "unknown option '--bogus'" "$tavrine" --bogus data
  refuse 2 "unknown option '-x'" "$tavrine" -dx data
  refuse 2 "-o needs a value" "$tavrine" -o
  refuse 2 "-k and --rm cannot be combined" "$tavrine" -k --rm data
  "$tavrine" --help >help.txt
  cat help.txt >>messages.txt
  ! LC_ALL=C grep -n '[^ -~]' messages.txt || fail "a message or the help is not in ASCII"
  ! grep -nE 'Excludes|Needs|UINT|TEXT|\{|\[[0-9]' help.txt || fail "--help shows the option parser's words"
  ! awk 'length($0) > 79' help.txt | grep . || fail "--help has lines wider than 79 columns"
}

case_list_columns() {
  # -l keeps its columns at any ratio: 27 %, thousands of percent (one byte,
  # many empty members), and none at all (empty).
  seq 1 20000 >text
  printf 'x' >one
  : >empty
  "$tavrine" -q text one empty
  local i
  for i in $(seq 200); do cat empty.tvr; done >many.tvr
  cat one.tvr >>many.tvr
  "$tavrine" -l text.tvr one.tvr empty.tvr many.tvr >list.txt
  awk 'NR == 1 { column = index($0, "name"); next }
       { name = substr($0, column); if (name !~ /^(text|one|empty|many)\.tvr$|^\(4 files\)$/) bad = bad "\n" $0 }
       END { if (bad != "") { print "names out of their column:" bad; exit 1 } }' list.txt ||
    fail "$(cat list.txt)"
  [ "$(grep -c '%' list.txt)" -ge 3 ] || fail "ratios missing: $(cat list.txt)"
}

case_owner() {
  # The output keeps the owner and group of its input where the user may give them.
  is_root || skip "giving a file to another owner needs root"
  seq 1 1000 >data
  chown 4321:4322 data
  "$tavrine" data
  [ "$(stat -c %u:%g data.tvr)" = 4321:4322 ] || fail "compression gave the output to $(stat -c %u:%g data.tvr)"
  rm data
  "$tavrine" -d data.tvr
  [ "$(stat -c %u:%g data)" = 4321:4322 ] || fail "decompression gave the output to $(stat -c %u:%g data)"
}

case_manual() {
  # The manual page names the options --help names, and no others, for both
  # tavrine and untavrine, and formats without a warning.
  local page=$source_dir/cli/tavrine.1
  [ -f "$page" ] || fail "no manual page at $page"
  "$tavrine" --help | grep -E '^ +-' | grep -oE -- '(^|[ ,(])--?[A-Za-z0-9][A-Za-z0-9-]*' | tr -d ' ,(' |
    LC_ALL=C sort -u >help-options
  # The page's options are the tags after .TP in its OPTIONS section, written
  # \-d, \-\-decompress.
  awk '/^\.SH/ { inside = /^\.SH OPTIONS/ } inside && tag { print; tag = 0 } /^\.TP/ { tag = 1 }' "$page" |
    sed 's/\\-/-/g; s/\\f[BIRP]//g' | grep -oE -- '(^|[ "])--?[A-Za-z0-9][A-Za-z0-9-]*' | tr -d ' "' |
    LC_ALL=C sort -u >page-options
  [ "$(wc -l <help-options)" -ge 20 ] || fail "too few options found in --help: $(cat help-options)"
  diff help-options page-options >options.diff || fail "--help (<) and the manual page (>) differ: $(cat options.diff)"
  grep -q '^tavrine, untavrine \\-' "$page" || fail "the manual page's NAME does not cover untavrine"
  command -v groff >/dev/null || fail "groff (Debian groff-base) is needed to check the manual page"
  groff -man -Tascii -ww -z "$page" 2>groff.txt
  [ ! -s groff.txt ] || fail "groff warns: $(cat groff.txt)"
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
