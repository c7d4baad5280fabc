#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time, starting from
# seeds made from the generated samples (and the corpus, when the build names
# one); fails on a finding, and when no target ran.
# Usage: scripts/fuzz.sh BUILD_DIR [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
seconds=${2:-60}
corpus=${TAVRINE_CORPUS_DIR:-$(sed -n 's/^TAVRINE_CORPUS_DIR:PATH=//p' "$build/CMakeCache.txt")}
work="$build/fuzz-run"
rm -rf "$work/seeds"
mkdir -p "$work"
corpus_arg=()
[ -z "$corpus" ] || corpus_arg=("$corpus")
"$build/fuzz/make_seeds" "$work/seeds" "${corpus_arg[@]}"

status=0
ran=0
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  ran=$((ran + 1))
  name=${target##*/fuzz_}
  mkdir -p "$work/corpus/$name" "$work/artifacts/$name"
  seeds="$work/seeds/$name"
  [ -d "$seeds" ] || seeds=""
  log="$work/$name.log"
  if ASAN_OPTIONS=detect_leaks=1 "$target" -max_total_time="$seconds" -print_final_stats=1 \
       -rss_limit_mb=4096 -artifact_prefix="$work/artifacts/$name/" \
       "$work/corpus/$name" $seeds >"$log" 2>&1; then
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$name: clean, $execs executions in $seconds s"
  else
    echo "fuzz_$name: FINDING (log: $log, artifacts: $work/artifacts/$name/)"
    grep -E 'ERROR|SUMMARY|runtime error' "$log" | head -n 20 || true
    status=1
  fi
done
if [ "$ran" -eq 0 ]; then
  echo "no fuzz target found in $build/fuzz" >&2
  exit 1
fi
exit $status
