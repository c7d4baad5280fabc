// Placing every rotation of a primitive block from its sorted seeds: the
// final step of the rotation sort, whichever way the seeds were sorted.
//
// Induced sorting: once the seeds (B*-type suffixes, seed_scan.h) are in
// order at the ends of their buckets, one pass places the ascending (S-type)
// rotations from the top of the rows down and one the descending (L-type)
// rotations from the bottom up, each rotation following its successor. Run
// from seeds ordered only by their first two bytes, the same passes order
// every rotation by its bytes up to the next seed, which is how the induced
// sort of the seeds (induced_sort.h) begins.
#pragma once

#include <cstdint>

#include "transform/rotation_sort.h"
#include "transform/seed_scan.h"
#include "transform/sort_common.h"

namespace tavrine {

// Places every rotation of a primitive block of n >= 2 bytes from its seeds
// in sorted order (ws.seeds[0 .. scan.count-1]): writes the last column, or
// the rows when ws.lastColumn is null, as sortPrimitiveRotations does, and
// returns the row of rotation 0.
std::uint32_t placeRotationsFromSeeds(const RotationWorkspace& ws, const SeedScan& scan,
                                      std::uint32_t n) noexcept;

// Both passes over block.d (doubled) from the `count` seeds in the order
// given, which must at least be that of their first two bytes: writes the
// rows (or the last column, when given) and returns the row of rotation 0.
// With the seeds in sorted order every rotation is; with them ordered by
// their first two bytes only, every rotation is ordered by its bytes up to
// and including the first two of the next seed at or after it. rows takes
// n + 1 slots, `work` 2 * count + 2 words.
std::uint32_t induceFromSeeds(DoubledBlock block, RotationStart* rows, std::uint8_t* lastColumn,
                              const BucketStarts& start, const RotationStart* seeds,
                              std::uint32_t count, std::uint32_t* work) noexcept;

// The induced sort's first step: both passes from the `count` seeds ordered
// by their first two bytes, as induceFromSeeds without the last column, but
// writing instead, in row order, the predecessors of the rows that are seeds
// (marked in isSeed, n bytes) to gathered[]: the seeds in the order of their
// successors. Leaves the rows in no useful order; returns how many it wrote.
std::uint32_t gatherSeedsBySuccessor(DoubledBlock block, RotationStart* rows, const BucketStarts& start,
                                     const RotationStart* seeds, std::uint32_t count, std::uint32_t* work,
                                     const std::uint8_t* isSeed, RotationStart* gathered) noexcept;

}  // namespace tavrine
