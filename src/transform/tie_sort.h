// Sorting groups of seed rotations that agree on their first bytes, by the
// 8-byte words that follow, within a budget of work.
//
// Small groups, nearly all of them in text, go through sorting networks on
// one word each, grouped by size so that no branch depends on the data;
// groups whose words tie, and large groups, are sorted by insertion and a
// three-way split on words (multikey quicksort).
#pragma once

#include <cstddef>
#include <cstdint>

#include "transform/rotation_sort.h"

namespace tavrine {

// Words of workspace that sortTiedGroups needs for `groupCount` groups.
constexpr std::size_t tieSortWorkWords(std::uint32_t groupCount) noexcept { return groupCount; }

struct TiedGroups {
    const std::uint32_t* bounds;  // group g is seeds[bounds[2g] .. bounds[2g+1]-1]
    std::uint32_t count;
    std::uint32_t depth;  // bytes on which the seeds of every group agree
};

// What the comparisons may spend: words loaded in all, and seeds carried
// one word deeper because their group still agrees. The second measures the
// repeats of a block; the first bounds the rest of the work.
struct TieBudget {
    std::int64_t words;
    std::int64_t deeper;
};

// Sorts every group of the seeds of a primitive block of n bytes (doubled as
// for RotationWorkspace). Returns false when the budget runs out, with the
// groups unsorted.
bool sortTiedGroups(const std::uint8_t* doubled, std::uint32_t n, RotationStart* seeds,
                    TiedGroups groups, TieBudget budget, std::uint32_t* work) noexcept;

}  // namespace tavrine
