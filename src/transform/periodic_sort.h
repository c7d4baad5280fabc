// Sorting the rotations of a periodic block u^k (k >= 2 copies of a
// primitive string u), such as "abcabc".
//
// Rotations s and t of u^k are identical exactly when s = t (mod |u|), and
// the record still fixes their mutual order: the one that the plain
// definition's stable sorts leave. The rows are those of u's rotations, each
// repeated k times, so the last column repeats each byte of u's last column
// k times; only where rotation 0 stands among its k identical rotations
// depends on the tie rules, and it is found by following them.
#pragma once

#include <cstdint>

#include "transform/rotation_sort.h"

namespace tavrine {

// Length of the primitive string u with block = u^(n/|u|): n itself for a
// primitive block.
std::uint32_t primitiveRootLength(const std::uint8_t* block, std::uint32_t n) noexcept;

// Writes the last column of block = u^(n/period) into ws.lastColumn and
// returns the row of rotation 0; period = primitiveRootLength(block, n) < n.
// ws is sized for n; ws.rows is left in no useful order.
std::uint32_t sortPeriodicRotations(const RotationWorkspace& ws, std::uint32_t n,
                                    std::uint32_t period) noexcept;

}  // namespace tavrine
