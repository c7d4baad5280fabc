// Sorting the seed rotations of a primitive block by comparison: a radix sort
// on their first bytes, then word-wise comparisons within the groups that
// agree there, all within a budget of work proportional to the block.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "transform/rotation_sort.h"

namespace tavrine {

// The 8 bytes at p as a big-endian number: numbers compare as the strings do.
inline std::uint64_t loadBigEndianWord(const std::uint8_t* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) {
#if defined(__GNUC__) || defined(__clang__)
        v = __builtin_bswap64(v);
#else
        v = ((v & 0x00000000000000FFull) << 56) | ((v & 0x000000000000FF00ull) << 40) |
            ((v & 0x0000000000FF0000ull) << 24) | ((v & 0x00000000FF000000ull) << 8) |
            ((v & 0x000000FF00000000ull) >> 8) | ((v & 0x0000FF0000000000ull) >> 24) |
            ((v & 0x00FF000000000000ull) >> 40) | ((v & 0xFF00000000000000ull) >> 56);
#endif
    }
    return v;
}

// Words of workspace that sortSeedsByComparison needs for `count` seeds.
constexpr std::size_t seedSortWorkWords(std::uint32_t count) noexcept {
    return 4 * static_cast<std::size_t>(count);
}

// Sorts the starts of `count` rotations of a primitive block of n bytes
// (doubled as for RotationWorkspace) into ascending order of their rotations.
// Returns false, with the starts in no particular order, when the block's
// repeats would make the comparisons exceed their budget.
bool sortSeedsByComparison(const std::uint8_t* doubled, std::uint32_t n, RotationStart* seeds,
                           std::uint32_t count, std::uint32_t* work) noexcept;

}  // namespace tavrine
