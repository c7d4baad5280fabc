#!/bin/sh
# The shipped libraries hold only the codec: none of the code that only the
# tests use (the reference sort and coders, the block coding loops of the
# tests, allocation-fault injection, the test data generator).
# Usage: check_shipped_symbols.sh NM LIBRARY...
set -eu
nm=$1
shift
test_only='ForwardBlockSortReference|forwardBlockSortReference|inverseBlockSortOwnTable|BlockCoder|ReferenceRangeCoder|PlainMoveToFront|AllocationFault|FAULT_INJECTION|faultInjection|tavrine::test|generateSample|BlockSortMethod'
for library in "$@"; do
  symbols=$("$nm" -C "$library" 2>/dev/null) || { echo "$nm cannot read $library" >&2; exit 1; }
  count=$(printf '%s\n' "$symbols" | grep -c -E ' [TtWwDdRrBb] ' || true)
  [ "$count" -gt 0 ] || { echo "$library: no symbols to check (stripped?)" >&2; exit 1; }
  found=$(printf '%s\n' "$symbols" | grep -E "$test_only" || true)
  if [ -n "$found" ]; then
    echo "$library holds code that only the tests use:" >&2
    printf '%s\n' "$found" | head -n 20 >&2
    exit 1
  fi
  echo "$library: $count symbols, none of them test-only"
done
