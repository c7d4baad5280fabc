// Sorting the seeds of a primitive block by induction, in linear time
// whatever the block holds: the induced-sorting recursion with the seeds
// (B*-type suffixes, seed_scan.h) in the part that the LMS suffixes play in
// its usual form.
//
// Run with the seeds ordered only by their first two bytes, the two induced
// passes (induced_placement.h) order every rotation by its bytes up to the
// next seed, which orders the seeds by their seed substrings (from a seed to
// the next one and the byte after it). Each seed is named by the rank of its
// substring; when two share a name, the sorted rotations of the reduced
// string (reduced_string.h), sorted by name_sort.h, give the order of the
// seeds.
#pragma once

#include <cstdint>

#include "transform/rotation_sort.h"
#include "transform/seed_scan.h"

namespace tavrine {

// Sorts the seeds ws.seeds[0 .. scan.count-1], in any order on entry, of a
// primitive block of n >= 2 bytes. Uses ws.rows, ws.words, ws.spare and
// ws.bytes.
void sortSeedsByInduction(const RotationWorkspace& ws, const SeedScan& scan, std::uint32_t n) noexcept;

}  // namespace tavrine
