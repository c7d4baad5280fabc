// Sorting the rotations of a primitive block, the core of the forward block
// sort.
//
// A primitive block (one that is not a shorter string repeated) has n distinct
// rotations and therefore exactly one sorted order, which sortPrimitiveRotations
// finds in O(n log n) time whatever the block holds. Only the seed rotations
// (B*-type suffixes, seed_scan.h; at most n / 2) are sorted directly; two
// induced passes place all others (induced_placement.h). The seeds are sorted
// by comparison within a fixed budget of work (seed_sort.h), or by induction in
// linear time for the blocks that would exceed it (induced_sort.h). Blocks of
// a few dozen bytes are sorted whole on keys of their rotations' first bytes
// (short_block_sort.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "transform/sort_common.h"

namespace tavrine {

// Working memory of the rotation sorts for blocks of up to n bytes. A block
// has at most n / 2 seeds; their sort keys take 2n words. The induced sort
// holds 4 slots per seed while the string of names is sorted, which takes
// at most 3 slots, 2 words and one byte per name at each level, each level
// at most half as long as the one above.
constexpr std::size_t rotationSortSeedSlots(std::uint32_t n) noexcept {
    return static_cast<std::size_t>(n) / 2 + 1;
}
constexpr std::size_t rotationSortWorkWords(std::uint32_t n) noexcept {
    return 2 * static_cast<std::size_t>(n) + 1 + std::size_t{4} * (kByteValues + 1);
}
constexpr std::size_t rotationSortSpareStarts(std::uint32_t n) noexcept {
    return 5 * static_cast<std::size_t>(n) + 128;
}
constexpr std::size_t rotationSortWorkBytes(std::uint32_t n) noexcept { return n; }

struct RotationWorkspace {
    const std::uint8_t* doubled;  // doubled[i] = block[i mod n] for i < 2n + kDoubledPadding
    RotationStart* rows;          // n + 1 slots: rows[i] is the start of the rotation at row i
    RotationStart* seeds;         // rotationSortSeedSlots(n) slots
    std::uint32_t* words;         // rotationSortWorkWords(n) words
    RotationStart* spare;         // rotationSortSpareStarts(n) slots
    std::uint8_t* bytes;          // rotationSortWorkBytes(n) bytes
    std::uint8_t* lastColumn;     // null, or n bytes for the last byte of every rotation, by row
};

// Sorts the n rotations of a primitive block and returns the row of rotation
// 0, 1 <= n <= 65536. When ws.lastColumn is set, writes the last column and
// leaves ws.rows in no useful order; otherwise writes the sorted order into
// ws.rows[0 .. n-1]. ws.rows[n] is scratch either way. Tries, in this order,
// the broken-period sort (broken_period_sort.h), on blocks of up to
// kShortBlockLength bytes the short-block sort (short_block_sort.h), the
// comparison method and the induction method below; each of the first three
// gives up cheaply on the blocks it does not suit.
std::uint32_t sortPrimitiveRotations(const RotationWorkspace& ws, std::uint32_t n) noexcept;

// What a method that gives up returns, with the rows unusable.
constexpr std::uint32_t kSortAbandoned = UINT32_MAX;

// The two general methods behind sortPrimitiveRotations, exposed for tests and
// benchmarks; they differ only in how they sort the seeds. The comparison
// method returns kSortAbandoned when it would exceed its budget of work or
// meets long repeats; the induction method takes linear time whatever the
// block holds.
std::uint32_t sortPrimitiveRotationsByComparison(const RotationWorkspace& ws,
                                                 std::uint32_t n) noexcept;
std::uint32_t sortPrimitiveRotationsByInduction(const RotationWorkspace& ws,
                                                std::uint32_t n) noexcept;

}  // namespace tavrine
