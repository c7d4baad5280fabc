#!/usr/bin/env bash
# End-to-end tests of tavrine.exe and untavrine.exe under wine, one case per
# CTest test, each with as few starts of wine as it can do with (a start of
# 32-bit wine under emulation takes seconds):
#   files      every generated sample compressed in one run, each .tvr file
#              byte for byte the native tool's, with -T THREADS and with other
#              options and thread counts; decompressed by untavrine.exe; an
#              existing output refused and replaced with -f; a damaged file
#              leaves no output; --rm
#   pipes      standard input and output carry binary data unchanged (.tvr
#              and --raw, both ways), and a listing equals the native tool's
#   names      a drive-letter path with backslashes, names outside every ANSI
#              code page (Greek, Japanese, Cyrillic, accents) as arguments,
#              in messages and listings, below a directory that -r goes through
#   interrupt  Ctrl-C removes the temporary file of an unfinished output,
#              sent as wine delivers a terminal's Ctrl-C (SIGINT to the wine
#              process)
#   console_interrupt  the same, sent as Windows sends it
#              (GenerateConsoleCtrlEvent in the console of a pseudo-terminal,
#              console_interrupt.exe)
# Usage: tool_test.sh CASE RUN_WINE TOOL_DIR NATIVE_TAVRINE SAMPLES WORKDIR THREADS [CONSOLE_INTERRUPT]
#   THREADS: the -T of the runs that compare with the native tool (2, or 1
#   where wine runs under emulation, which does not run threads reliably)
# The wine environment (TAVRINE_WINE_BITS, TAVRINE_WINE_DIR) comes from CTest.
set -euo pipefail

case_name=$1
run_wine=$2
tool_dir=$3
native=$4
samples=$5
work=$6
threads=$7
console_interrupt=${8:-}

rm -rf "$work"
mkdir -p "$work"
cd "$work"
# Wine converts the arguments and the names of the file system with the
# locale's character set: UTF-8, or names outside ASCII are lost.
export LC_ALL=C.UTF-8

fail() {
  echo "FAIL [$case_name]: $*" >&2
  exit 1
}

# A command that fails outside fail() ends the case through `set -e`; name
# it, or a run that wine ends early leaves nothing in the test's output.
set -E
trap 'echo "FAIL [$case_name]: line $LINENO: \"$BASH_COMMAND\" exited with $?" >&2' ERR

# Every run takes THREADS unless it says otherwise (a later -T wins).
tavrine() { "$run_wine" "$tool_dir/tavrine.exe" -T"$threads" "$@"; }
untavrine() { "$run_wine" "$tool_dir/untavrine.exe" -T"$threads" "$@"; }

# expect_exit STATUS MESSAGE CMD...: CMD must exit with STATUS and print
# MESSAGE on standard error (kept in err.txt).
expect_exit() {
  local want=$1 message=$2
  shift 2
  local got=0
  "$@" 2>err.txt || got=$?
  [ "$got" -eq "$want" ] || fail "'$*' exited with $got, expected $want; stderr: $(cat err.txt)"
  grep -qF -- "$message" err.txt || fail "'$*': expected '$message' on stderr, got: $(cat err.txt)"
}

# same_as_native FILE.tvr INPUT [OPTIONS...]: FILE.tvr is what the native tool writes.
same_as_native() {
  local tvr=$1 input=$2
  shift 2
  "$native" -c "$@" "$input" | cmp -s - "$tvr" || fail "$tvr differs from the native tool's .tvr ($*)"
}

# A drive-letter path with backslashes for an absolute path: wine's drive Z:
# is the root of the file system.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

case_files() {
  mkdir in
  cp "$samples"/* in/
  local f count=0
  tavrine -q in/*
  for f in "$samples"/*; do
    same_as_native "in/$(basename "$f").tvr" "$f" -T"$threads"
    rm "in/$(basename "$f")"
    count=$((count + 1))
  done
  untavrine -q in/*.tvr
  for f in "$samples"/*; do
    cmp -s "$f" "in/$(basename "$f")" || fail "$(basename "$f"): decompressed differently"
  done

  # Other options and thread counts, the same bytes as the native tool's;
  # --rm removes the source once its output is complete.
  cp "$samples/text-1m" gone
  tavrine -q -T$((threads == 1 ? 1 : 3)) --variant 0 --segment-size 64K --rm gone
  [ ! -e gone ] || fail "--rm left the source"
  same_as_native gone.tvr "$samples/text-1m" -T1 --variant 0 --segment-size 64K

  # An existing output is refused, and replaced with -f.
  expect_exit 1 "already exists; use -f to overwrite" tavrine in/text-4k
  printf 'other content' >in/text-4k
  tavrine -q -f in/text-4k
  same_as_native in/text-4k.tvr in/text-4k

  # A damaged file: an error, and neither an output nor a temporary file.
  cp in/text-1m.tvr bad.tvr
  printf '\377\377\377\377' | dd of=bad.tvr bs=1 seek=300000 conv=notrunc status=none
  expect_exit 1 "the file is corrupted" untavrine bad.tvr
  [ -z "$(ls -A | grep -e '^bad$' -e '^\.bad\.' || true)" ] || fail "a damaged input left an output: $(ls -A)"
  echo "$count samples: .tvr files as the native tool's, decompressed; options, -f, --rm and damage as expected"
}

case_pipes() {
  local random=$samples/random-100k text=$samples/text-150k
  tavrine <"$random" >r.tvr
  same_as_native r.tvr "$random" -T"$threads"
  untavrine <r.tvr >r.out
  cmp -s "$random" r.out || fail "binary data through standard input and output came back different"
  tavrine --raw -c "$text" >t.tvraw
  "$native" --raw -c "$text" | cmp -s - t.tvraw || fail "--raw to standard output differs from the native tool's"
  untavrine -c t.tvraw >t.out
  cmp -s "$text" t.out || fail "a bare stream decompressed to standard output came back different"
  tavrine -l r.tvr t.tvraw >list.txt
  "$native" -l r.tvr t.tvraw | cmp -s - list.txt || fail "the listing differs from the native tool's: $(cat list.txt)"
  echo "binary standard input and output, .tvr and --raw, and the listing as the native tool's"
}

case_names() {
  local dir="Ωμέγα 日本" name="naïve €.txt"
  mkdir -p "$dir/sub" копия
  cp "$samples/text-150k" "$dir/$name"
  cp "$samples/text-25k" "$dir/sub/ß.bin"
  tavrine -v "$(windows_path "$PWD/$dir/$name")" 2>err.txt
  same_as_native "$dir/$name.tvr" "$samples/text-150k"
  grep -qF "$dir\\$name.tvr" err.txt || fail "the message does not name the output in UTF-8: $(cat err.txt)"

  untavrine -o 'копия\данные.txt' "$dir\\$name.tvr"
  cmp -s "$samples/text-150k" копия/данные.txt || fail "decompressed to a Cyrillic name, the file differs"

  tavrine -r -f -q "$dir"
  same_as_native "$dir/sub/ß.bin.tvr" "$samples/text-25k"
  same_as_native "$dir/$name.tvr" "$samples/text-150k"
  tavrine -l "$dir\\sub\\ß.bin.tvr" >list.txt
  grep -qF "$dir\\sub\\ß.bin.tvr" list.txt || fail "the listing does not name the file in UTF-8: $(cat list.txt)"
  echo "drive letters, backslashes and names outside the ANSI code pages in arguments, messages and listings"
}

case_interrupt() {
  # As wine delivers a terminal's Ctrl-C: SIGINT to the wine process. The
  # tool reads a FIFO that stays open, so that it waits with its temporary
  # file made.
  mkfifo slow
  "$run_wine" "$tool_dir/tavrine.exe" -T"$threads" -o out.tvr - <slow 2>err.txt &
  local pid=$! tries=0 status=0
  exec 3>slow
  printf 'some data' >&3
  until ls -A | grep -q '^\.out\.tvr\.'; do
    tries=$((tries + 1))
    [ $tries -lt 1200 ] || fail "the tool made no temporary file beside its output"
    sleep 0.1
  done
  kill -INT $pid
  wait $pid || status=$?
  exec 3>&-
  [ $status -ne 0 ] || fail "a compression ended by Ctrl-C reported success"
  [ "$(ls -A | LC_ALL=C sort | tr '\n' ' ')" = "err.txt slow " ] || fail "Ctrl-C left files behind: $(ls -A)"
  echo "Ctrl-C as SIGINT to wine: the tool ended and left nothing behind"
}

case_console_interrupt() {
  # As Windows sends it, from a program in the same console.
  [ -n "$console_interrupt" ] || fail "no console_interrupt program given"
  command -v script >/dev/null || fail "'script' (util-linux) is missing: no pseudo-terminal for a console"
  local command
  command=$(printf '%q ' "$run_wine" "$console_interrupt" "$(windows_path "$tool_dir/tavrine.exe")" out.tvr host.log)
  # The verdict is the program's log, written after every check: the status
  # that reaches us through script and wine's console was seen to be lost now
  # and then after a verdict of success.
  script -qec "$command" /dev/null </dev/null >console.txt 2>&1 || true
  [ -f host.log ] || fail "console_interrupt did not run: $(tail -c 2000 console.txt)"
  grep -q '^ok:' host.log || fail "GenerateConsoleCtrlEvent: $(cat host.log)"
  echo "Ctrl-C as CTRL_C_EVENT in a console: the tool ended and left nothing behind"
}

case "$case_name" in
  files | pipes | names | interrupt | console_interrupt) "case_$case_name" ;;
  *) fail "unknown case" ;;
esac
