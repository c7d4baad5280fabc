// Sorting groups of seed rotations that agree on their first bytes, by the
// 8-byte words that follow, within a budget of work.
//
// Small groups, nearly all of them in text, go through sorting networks on
// one word each, grouped by size so that no branch depends on the data; the
// runs of seeds whose words tie go one word deeper, and large groups are
// split three ways on their words (multikey quicksort).
#pragma once

#include <cstddef>
#include <cstdint>

#include "transform/rotation_sort.h"

namespace tavrine {

// Words of workspace that sortTiedGroups needs for `groupCount` groups.
constexpr std::size_t tieSortWorkWords(std::uint32_t groupCount) noexcept { return groupCount; }

// Seeds that agree on their first `depth` bytes: rows first .. last-1 of the
// seeds sorted so far.
struct Group {
    std::uint32_t first;
    std::uint32_t last;
    std::uint32_t depth;

    std::uint32_t size() const noexcept { return last - first; }
};

// The groups that the radix sort of the seeds leaves, as (first, last) pairs.
struct TiedGroups {
    const std::uint32_t* bounds;  // group g is seeds[bounds[2g] .. bounds[2g+1]-1]
    std::uint32_t count;
    std::uint32_t depth;  // bytes on which the seeds of every group agree

    Group operator[](std::uint32_t g) const noexcept {
        return {bounds[2 * static_cast<std::size_t>(g)], bounds[2 * static_cast<std::size_t>(g) + 1],
                depth};
    }
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
