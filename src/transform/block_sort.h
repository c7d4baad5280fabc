// Block sort: the reversible per-block transform in front of move-to-front.
// The forward sort is BlockSorter (block_sorter.h); this is the record's
// layout and the inverse.
//
// The forward sort orders all cyclic rotations of a block of n bytes and writes
// a block record of n + 2 bytes: the row of the unrotated block (primary index,
// unsigned 16-bit little-endian) followed by the last byte of every rotation in
// sorted order (last column). Identical rotations of a periodic block are kept
// in one fixed order, so every block has exactly one record. The inverse
// rebuilds the block from any record whose primary index lies inside it.
#pragma once

#include <array>
#include <cstdint>

namespace tavrine {

constexpr std::uint32_t kMaxBlockLength = 65536;  // rows must fit the 16-bit primary index
constexpr std::uint32_t kPrimaryIndexBytes = 2;   // record bytes in front of the last column

// Entries of 16 bits that InverseBlockSort needs for a block of `length` bytes:
// a successor and a predecessor row per byte, and room for a rank of each
// record byte (below).
constexpr std::uint32_t inverseSortTableEntries(std::uint32_t length) noexcept {
    return 2 * length + kPrimaryIndexBytes;
}

// How often each byte value occurs in a whole record, primary index included.
using RecordByteCounts = std::array<std::uint32_t, 256>;

// Where the rank of every record byte goes for InverseBlockSortRanked: entry
// w of the slots, in the table for a block of `length` bytes, takes how
// often record[w]'s value occurs in record[0 .. w-1], in 16 bits.
constexpr std::uint16_t* recordRankSlots(std::uint16_t* table, std::uint32_t length) noexcept {
    return table + length;
}

// Writes the n - 2 bytes restored from the record of total length n into out.
// Preconditions: 1 <= n - 2 <= kMaxBlockLength and primary index < n - 2; then
// any last column decodes without a fault. `table` is working memory of
// inverseSortTableEntries(n - 2) entries, which a caller decoding many blocks
// lends every call.
void InverseBlockSort(std::uint8_t* out, const std::uint8_t* record, std::uint32_t n,
                      std::uint16_t* table) noexcept;

// InverseBlockSort for a record whose decoder counted its bytes into
// `counts` and left their ranks in recordRankSlots(table, n - 2): the rows
// follow from these without a pass of counting and ranking of its own. Same
// preconditions and bytes.
void InverseBlockSortRanked(std::uint8_t* out, const std::uint8_t* record, std::uint32_t n,
                            std::uint16_t* table, const RecordByteCounts& counts) noexcept;

}  // namespace tavrine
