// Sorting the rotations of a primitive cyclic string of names: the reduced
// string (reduced_string.h) that the induced sort of a block builds from its
// seed substrings when two of them are equal, at most half as long as the
// block.
//
// The induced-sorting recursion in its usual form (SA-IS) on 16-bit names:
// ascending and descending rotations are S-type and L-type, and the leftmost
// ascending rotations (ascending, with a descending predecessor) are the LMS
// rotations. Placed at the ends of their buckets, they induce the descending
// rotations in one upward scan and the ascending ones in one downward scan.
// Placed in any order, they come out ordered by their substrings to the next
// one; named by those, they form a shorter reduced string that is sorted the
// same way, until all names differ.
#pragma once

#include <cstdint>

#include "transform/reduced_string.h"
#include "transform/sort_common.h"
#include "transform/work_arena.h"

namespace tavrine {

// The longest string of names: half the longest block.
constexpr std::uint32_t kLongestNameString = 32768;

// Writes the sorted rotations of the string names[0 .. n-1] (doubled:
// names[i] = names[i mod n] for i < 2n) into rows[0 .. n-1]. The string is
// primitive, 2 <= n <= kLongestNameString, and its names are below
// `alphabet`.
void sortRotationsOfNames(const Name* names, std::uint32_t n, std::uint32_t alphabet, RotationStart* rows,
                          Arenas& arenas) noexcept;

}  // namespace tavrine
