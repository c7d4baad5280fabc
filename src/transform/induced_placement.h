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

// What the descending pass takes from the rows as it reads them, beside the
// rows themselves: the last column (n bytes) when lastColumn is set; or, when
// seeds is set, the predecessors marked in isSeed (n bytes), in row order,
// written to seeds. With neither, the rows are the result.
struct PlacementOutput {
    std::uint8_t* lastColumn;
    const std::uint8_t* isSeed;
    RotationStart* seeds;
};

// Both passes over block.d (doubled) from the `count` seeds in the order
// given, which must at least be that of their first two bytes. With the
// seeds in sorted order every rotation is sorted; with them ordered by their
// first two bytes only, every rotation is ordered by its bytes up to and
// including the first two of the next seed at or after it. Returns the row
// of rotation 0, or how many seeds were gathered. rows takes n + 1 slots,
// `work` 2 * count + 2 words.
std::uint32_t induceFromSeeds(DoubledBlock block, RotationStart* rows, const PlacementOutput& out,
                              const BucketStarts& start, const RotationStart* seeds,
                              std::uint32_t count, std::uint32_t* work) noexcept;

}  // namespace tavrine
