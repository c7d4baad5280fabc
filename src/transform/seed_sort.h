// Sorting the seed rotations (B*-type suffixes, seed_scan.h) of a primitive
// block by comparison: a radix sort on their first bytes, then word-wise
// comparisons within the groups that agree there (tie_sort.h), all within a
// budget of work proportional to the block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "transform/sort_common.h"

namespace tavrine {

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
