#!/usr/bin/env bash
# Instructions per byte that tavrine and libbz2 -9 spend encoding and
# decoding each file, counted by valgrind's cachegrind: the work itself,
# which unlike a time does not depend on the processor, its clock or the
# load of a shared host. Each figure is the difference between a run of
# REPS calls and a run of none, divided by REPS and the file's length, so
# reading the file and making the stream to decode are left out. The last
# columns are libbz2's instructions over tavrine's.
# Usage: bench/instruction_counts.sh DRIVER [-r REPS] FILE...
#   DRIVER: the tavrine-instructions program of a benchmark build.
set -euo pipefail
usage() { echo "usage: $0 DRIVER [-r REPS] FILE..." >&2; exit 2; }
[ $# -ge 2 ] || usage
driver=$1
shift
reps=1
if [ "$1" = -r ]; then
  [ $# -ge 3 ] || usage
  reps=$2
  shift 2
fi
command -v valgrind >/dev/null || { echo "$0: valgrind is not installed" >&2; exit 1; }

# instructions CODEC OP N FILE: instructions of the driver's whole run.
instructions() {
  valgrind --tool=cachegrind --cache-sim=no --cachegrind-out-file=/dev/null \
    "$driver" "$@" 2>&1 | awk '/I *refs:/ { gsub(",", "", $NF); print $NF }'
}

# per_byte CODEC OP FILE BYTES: instructions per byte of one call.
per_byte() {
  local with without
  with=$(instructions "$1" "$2" "$reps" "$3")
  without=$(instructions "$1" "$2" 0 "$3")
  awk -v a="$with" -v b="$without" -v r="$reps" -v n="$4" 'BEGIN { printf "%.1f", (a - b) / r / n }'
}

printf '| %-24s | %9s | %8s | %8s | %7s | %8s | %8s | %7s |\n' \
  file bytes "tav enc" "bz9 enc" "bz/tav" "tav dec" "bz dec" "bz/tav"
printf '|--------------------------|-----------|----------|----------|---------|----------|----------|---------|\n'
total_bytes=0
declare -A total=([te]=0 [be]=0 [td]=0 [bd]=0)
for file in "$@"; do
  bytes=$(wc -c <"$file")
  [ "$bytes" -gt 0 ] || continue
  te=$(per_byte tavrine encode "$file" "$bytes")
  be=$(per_byte bzip2 encode "$file" "$bytes")
  td=$(per_byte tavrine decode "$file" "$bytes")
  bd=$(per_byte bzip2 decode "$file" "$bytes")
  name=$(basename "$(dirname "$file")")/$(basename "$file")
  printf '| %-24s | %9d | %8s | %8s | %6.2fx | %8s | %8s | %6.2fx |\n' "$name" "$bytes" \
    "$te" "$be" "$(awk -v a="$be" -v b="$te" 'BEGIN { print a / b }')" \
    "$td" "$bd" "$(awk -v a="$bd" -v b="$td" 'BEGIN { print a / b }')"
  total_bytes=$((total_bytes + bytes))
  for key in te be td bd; do
    total[$key]=$(awk -v t="${total[$key]}" -v x="${!key}" -v n="$bytes" 'BEGIN { printf "%.0f", t + x * n }')
  done
done
[ "$total_bytes" -gt 0 ] || exit 0
awk -v n="$total_bytes" -v te="${total[te]}" -v be="${total[be]}" -v td="${total[td]}" -v bd="${total[bd]}" 'BEGIN {
  printf "| %-24s | %9d | %8.1f | %8.1f | %6.2fx | %8.1f | %8.1f | %6.2fx |\n", "all files (summed)", n,
    te / n, be / n, be / te, td / n, bd / n, bd / td }'
