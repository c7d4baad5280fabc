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

#include "platform/compiler.h"

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

// The inverse sort split in two, for a decoder with other work to overlap it
// with: PrepareBlockWalk turns a ranked record, as InverseBlockSortRanked
// takes it, into one table entry per row (the next row and the byte it
// restores); the BlockWalk it returns then writes the block's bytes in order,
// a step at a time, and needs nothing but that table and `out`. The bytes are
// InverseBlockSort's, for any record that meets its preconditions.
class BlockWalk {
public:
    // A walk with no bytes to write.
    BlockWalk() noexcept = default;
    BlockWalk(std::uint8_t* out, std::uint32_t length, const std::uint32_t* table,
              std::uint32_t primaryIndex) noexcept
        : out_(out), end_(out + length), table_(table), row_(primaryIndex) {}

    // Writes the next byte, if one is left. Each step loads the row the
    // next one needs: a chain of loads, which the decoder runs beside its own.
    TAVRINE_ALWAYS_INLINE void step() noexcept {
        if (out_ == end_) return;
        const std::uint32_t entry = table_[row_];
        *out_++ = static_cast<std::uint8_t>(entry >> kByteShift);
        row_ = entry & kRowMask;
    }

    // Writes every byte left.
    void finish() noexcept {
        while (out_ != end_) step();
    }

    // The bytes left to write.
    std::uint32_t remaining() const noexcept { return static_cast<std::uint32_t>(end_ - out_); }

    // step() for a loop that numbers its steps from 0: step k writes its byte
    // to out[k] and tests nothing. advance(k) then moves out on past them. A
    // step past the block's end stays inside the table, whose rows all lead
    // to rows of the block, and writes to out[k] all the same: a loop that
    // runs on retargets out to where those bytes do no harm.
    TAVRINE_ALWAYS_INLINE void stepAt(std::uint32_t k) noexcept {
        const std::uint32_t entry = table_[row_];
        out_[k] = static_cast<std::uint8_t>(entry >> kByteShift);
        row_ = entry & kRowMask;
    }
    void advance(std::uint32_t steps) noexcept { out_ += steps; }
    void retarget(std::uint8_t* out) noexcept { out_ = out; }

    // Entry r of the table: the row after row r (the row whose rotation
    // starts one byte later) and the last-column byte of that row, which is
    // the byte the walk writes on arriving there.
    static constexpr std::uint32_t entry(std::uint32_t nextRow, std::uint8_t byte) noexcept {
        return nextRow | (std::uint32_t{byte} << kByteShift);
    }

private:
    static constexpr std::uint32_t kByteShift = 16;  // rows are below kMaxBlockLength = 2^16
    static constexpr std::uint32_t kRowMask = (std::uint32_t{1} << kByteShift) - 1;

    // The table of a walk with no bytes: its steps stay on row 0.
    static constexpr std::uint32_t kIdleEntry = 0;

    std::uint8_t* out_ = nullptr;
    std::uint8_t* end_ = nullptr;
    const std::uint32_t* table_ = &kIdleEntry;
    std::uint32_t row_ = 0;
};

// Fills `walkTable` (n - 2 entries) from a record ranked as for
// InverseBlockSortRanked, with `ranks` its rank slots, and returns the walk
// that writes the block's n - 2 bytes to out. Same preconditions; the record
// and the ranks are not needed after the call.
BlockWalk PrepareBlockWalk(std::uint8_t* out, const std::uint8_t* record, std::uint32_t n,
                           const std::uint16_t* ranks, const RecordByteCounts& counts,
                           std::uint32_t* walkTable) noexcept;

}  // namespace tavrine
