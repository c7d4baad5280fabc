// Induced sorting of the rotations of a primitive block.
//
// Once the seed rotations are sorted, two passes place all others: the
// ascending rotations from the top of the rows down, the descending ones
// from the bottom up, each rotation following its successor.
//
// The seeds themselves can be sorted by the same passes, in linear time
// whatever the block holds: run with the seeds ordered only by their first
// two bytes, the passes order every rotation by its bytes up to the next
// seed, which orders the seeds by their seed substrings (from a seed to the
// next one and the byte after it). Each seed is named by the rank of its
// substring; when two share a name, the rotations of the string of names,
// sorted the same way, give the order of the seeds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "transform/rotation_sort.h"
#include "transform/seed_scan.h"

namespace tavrine {

// Places every rotation of a primitive block of n >= 2 bytes from its seeds
// in sorted order (ws.seeds[0 .. scan.count-1]): writes the last column, or
// the rows when ws.lastColumn is null, as sortPrimitiveRotations does, and
// returns the row of rotation 0.
std::uint32_t placeRotationsFromSeeds(const RotationWorkspace& ws, const SeedScan& scan,
                                      std::uint32_t n) noexcept;

// Sorts the seeds ws.seeds[0 .. scan.count-1], in any order on entry, of a
// primitive block of n >= 2 bytes by induction. Uses ws.rows, ws.words,
// ws.spare and ws.bytes.
void sortSeedsByInduction(const RotationWorkspace& ws, const SeedScan& scan, std::uint32_t n) noexcept;

}  // namespace tavrine
