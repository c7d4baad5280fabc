// Sorting the rotations of a primitive block that repeats a short string
// and ends partway through it, such as "abcabcab".
//
// With u the shortest period (|u| = p, which cannot divide n), rotation i of
// the block reads u from phase i mod p for its first n - i bytes. Rotations
// that keep p of those bytes order by their phase, as the rotations of u do;
// two of one phase agree up to where the later one wraps round to phase 0,
// while the earlier one is then at phase n mod p, so every phase orders its
// rotations by start in one direction. Only the last p - 1 rotations need
// comparing byte by byte. The work is O(n + p^2 log n) comparisons of bytes
// in runs, where the general sorts slow down most on such blocks.
#pragma once

#include <cstdint>

#include "transform/rotation_sort.h"

namespace tavrine {

// Longest period for which the sort is tried; the rotations compared byte
// by byte grow with it.
constexpr std::uint32_t kLongestBrokenPeriod = 256;

// Sorts like sortPrimitiveRotations when the block has a period of at most
// kLongestBrokenPeriod bytes and at least two whole periods; otherwise
// returns kSortAbandoned and touches nothing. The block must be primitive.
std::uint32_t sortBrokenPeriodRotations(const RotationWorkspace& ws, std::uint32_t n) noexcept;

}  // namespace tavrine
