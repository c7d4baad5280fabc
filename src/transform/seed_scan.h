// Finding the seed rotations of a primitive block.
//
// Rotation i is descending (L-type, in the terms of suffix sorting) when it is
// greater than rotation i+1: its first byte is above its second, or equal to
// it and rotation i+1 is descending; else it is ascending (S-type). In a
// primitive block every run of equal bytes ends, so the types are defined. A
// seed (a B*-type suffix) is an ascending rotation whose successor is
// descending: its first byte is below its second, so no two seeds are
// adjacent and a block has at most n / 2 of them. A seed's substring runs
// from it to the next seed and one byte past it.
#pragma once

#include <cstdint>

#include "transform/rotation_sort.h"
#include "transform/sort_common.h"

namespace tavrine {

struct SeedScan {
    BucketStarts start;   // of the buckets of all rotations
    std::uint32_t count;  // of seeds
};

// Counts the buckets and writes the starts of the seeds into
// seeds[0 .. count-1], in stretches of 64 positions from the end of the
// block to its start, each stretch's seeds in ascending order. Needs n >= 2, two different bytes and the
// doubled block; seeds[] takes rotationSortSeedSlots(n) entries.
SeedScan findSeeds(const std::uint8_t* doubled, std::uint32_t n, RotationStart* seeds) noexcept;

// The byte pairs of 64 positions as bit masks: bit k stands for position
// base + k and its successor. The seed scan's unit of work.
struct PairMasks {
    std::uint64_t below;  // d[i] < d[i+1]
    std::uint64_t equal;  // d[i] = d[i+1]
};

}  // namespace tavrine
