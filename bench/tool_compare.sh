#!/usr/bin/env bash
# Two builds of the tavrine program on the same file, paired: every round
# runs both, one right after the other and in alternating order, for
# compression and decompression with each thread count, as whole processes
# (wall time), and the median over the rounds of the speed ratio NEW/OLD is
# reported, with the load average at the start and the end. Checks that both
# write the same .tvr file.
# Usage: bench/tool_compare.sh OLD NEW FILE [ROUNDS] [THREADS...]
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: $0 OLD NEW FILE [ROUNDS] [THREADS...]" >&2; exit 2; }
old=$1 new=$2 file=$3 rounds=${4:-11}
shift $(($# < 4 ? $# : 4))
threads=("$@")
[ ${#threads[@]} -gt 0 ] || threads=(1 2)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$old" -q -c "$file" >"$scratch/old.tvr"
"$new" -q -c "$file" >"$scratch/new.tvr"
cmp -s "$scratch/old.tvr" "$scratch/new.tvr" || { echo "the two builds write different files" >&2; exit 1; }

# seconds PROGRAM ARGS...: wall time of one run, output discarded.
seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  echo "$(((end - start) / 1000))"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "load at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
bytes=$(wc -c <"$file")
printf '| %-12s | %7s | %10s | %10s | %9s |\n' mode threads "old MB/s" "new MB/s" "new/old"
printf '|--------------|---------|------------|------------|-----------|\n'
for t in "${threads[@]}"; do
  for mode in compress decompress; do
    if [ "$mode" = compress ]; then args=(-q "-T$t" -c "$file"); else args=(-q "-T$t" -dc "$scratch/old.tvr"); fi
    : >"$scratch/ratios" >"$scratch/a" >"$scratch/b"
    for round in $(seq "$rounds"); do
      if [ $((round % 2)) -eq 1 ]; then
        a=$(seconds "$old" "${args[@]}"); b=$(seconds "$new" "${args[@]}")
      else
        b=$(seconds "$new" "${args[@]}"); a=$(seconds "$old" "${args[@]}")
      fi
      echo "$a" >>"$scratch/a"; echo "$b" >>"$scratch/b"
      awk -v a="$a" -v b="$b" 'BEGIN { print a / b }' >>"$scratch/ratios"
    done
    printf '| %-12s | %7s | %10.1f | %10.1f | %8.3fx |\n' "$mode" "$t" \
      "$(awk -v n="$bytes" -v us="$(median <"$scratch/a")" 'BEGIN { print n / us }')" \
      "$(awk -v n="$bytes" -v us="$(median <"$scratch/b")" 'BEGIN { print n / us }')" \
      "$(median <"$scratch/ratios")"
  done
done
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
