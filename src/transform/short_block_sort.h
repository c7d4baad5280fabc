// The rotations of a short primitive block, sorted directly: on keys of their
// first seven bytes and their start, then on two words more where seven bytes
// agree. The general methods (rotation_sort.h) pay a fixed price per block,
// counters and bucket starts for every byte value in each of their passes,
// which on a block of a few dozen bytes costs more than sorting the rotations.
#pragma once

#include <cstdint>

#include "transform/rotation_sort.h"

namespace tavrine {

// The longest block sortShortBlockRotations takes. At this length the
// general methods' fixed price still outweighs its work on text and binary
// data (1.2-1.6x at 128 bytes) and about matches it on two letters; at 192
// bytes it no longer does.
constexpr std::uint32_t kShortBlockLength = 128;

// Sorts the n rotations of a primitive block, 1 <= n <= kShortBlockLength,
// with the contract of sortPrimitiveRotations: returns the row of rotation 0
// and writes the last column by row when ws.lastColumn is set, the sorted
// order into ws.rows otherwise. Uses no other part of the workspace. Gives up
// (kSortAbandoned) on a block of long repeats: two rotations that agree on
// their first 23 bytes.
std::uint32_t sortShortBlockRotations(const RotationWorkspace& ws, std::uint32_t n) noexcept;

}  // namespace tavrine
