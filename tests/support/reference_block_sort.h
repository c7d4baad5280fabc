// The block sort written plainly: the procedure that fixes the record of every
// block, the order of identical rotations in a periodic block included. The
// oracle that the production sorter must match byte for byte; quadratic on
// repetitive blocks, so it stays in the tests.
#pragma once

#include <cstdint>

#include "transform/block_sort.h"

namespace tavrine::test {

// Merge buffer of the reference sort: the left half of a bucket of at most
// kMaxBlockLength rotations holds at most half of them.
constexpr std::uint32_t kScratchSlots = kMaxBlockLength / 2;

// Writes the n + 2 byte record of block[0 .. n-1] into record, 1 <= n <= kMaxBlockLength.
// scratch is a table of kScratchSlots position slots that the sort may overwrite.
void forwardBlockSortReference(std::uint8_t* record, const std::uint8_t* block, std::uint32_t n,
                               std::uint32_t* scratch);

// InverseBlockSort with a table of its own.
void inverseBlockSortOwnTable(std::uint8_t* out, const std::uint8_t* record, std::uint32_t n);

}  // namespace tavrine::test
