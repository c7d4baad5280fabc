// Sorting the rotations of a block, the core of the forward block sort.
//
// A primitive block (one that is not a shorter string repeated) has n distinct
// rotations and therefore exactly one sorted order, which sortPrimitiveRotations
// finds in O(n log n) time whatever the block holds. Only the seed rotations
// (ascending ones whose successor is descending, at most n / 2) are sorted
// directly; two induced passes place all others. The seeds are sorted by
// comparison within a fixed budget of work, or by induction in linear time
// for the blocks that would exceed it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tavrine {

constexpr std::uint32_t kByteValues = 256;

// Bytes after the doubled block that word-wise comparisons may read; they
// continue the block cyclically.
constexpr std::uint32_t kDoubledPadding = 16;

// The start of a rotation; blocks have at most 65536 bytes, so 16 bits hold it.
using RotationStart = std::uint16_t;

// start[b] = number of block bytes below b; bucket b is rows start[b] .. start[b+1]-1.
using BucketStarts = std::array<std::uint32_t, kByteValues + 1>;

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
// ws.rows[0 .. n-1]. ws.rows[n] is scratch either way.
std::uint32_t sortPrimitiveRotations(const RotationWorkspace& ws, std::uint32_t n) noexcept;

// The two methods behind sortPrimitiveRotations, exposed for tests and
// benchmarks; they differ only in how they sort the seeds. The comparison
// sort returns kSortAbandoned, with the rows unusable, when it would exceed
// its budget of work or meets long repeats; the induced sort takes linear
// time whatever the block holds.
constexpr std::uint32_t kSortAbandoned = UINT32_MAX;
std::uint32_t sortPrimitiveRotationsByComparison(const RotationWorkspace& ws,
                                                 std::uint32_t n) noexcept;
std::uint32_t sortPrimitiveRotationsByInduction(const RotationWorkspace& ws,
                                                std::uint32_t n) noexcept;

}  // namespace tavrine
