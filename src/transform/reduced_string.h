// The reduced string of induced sorting, built the same way by the induced
// sort of a block's seeds (induced_sort.h) and by the sort of a string of
// names (name_sort.h), which is itself run on reduced strings.
//
// Once the marked positions of a cyclic string (a block's seeds, or the
// leftmost ascending rotations of a string of names) stand in order of their
// substrings, each is named by the rank of its substring among the distinct
// ones. Written in the order the positions stand in the string, the names
// form the reduced string (the project's "string of names"), at most half as
// long; its sorted rotations give the order of the marked positions whenever
// two substrings are equal.
#pragma once

#include <algorithm>
#include <cstdint>

#include "transform/sort_common.h"

namespace tavrine {

using Name = std::uint16_t;

// Names the `count` marked positions sorted[0 .. count-1], which stand in
// order of their substrings: nameAt[s / 2] becomes the name of position s
// (marked positions are at least two apart). sameSubstring(s, t) tells
// whether the substrings at s and t are equal. Returns the number of names.
template <typename SameSubstring>
std::uint32_t nameBySubstring(const RotationStart* sorted, std::uint32_t count,
                              SameSubstring sameSubstring, Name* nameAt) noexcept {
    std::uint32_t name = 0;
    nameAt[sorted[0] / 2] = 0;
    for (std::uint32_t k = 1; k < count; ++k) {
        name += sameSubstring(sorted[k - 1], sorted[k]) ? 0 : 1;
        nameAt[sorted[k] / 2] = static_cast<Name>(name);
    }
    return name + 1;
}

// Writes the reduced string of a string of n positions with `count` marked
// ones (isMarked(p) is 1 for them, else 0): their names in the order they
// stand, doubled (reduced[k] = reduced[k mod count] for k < 2 count), and
// positionOf[k], the position of the k-th. reduced takes 2 count + 1
// entries, positionOf count + 1.
template <typename IsMarked>
void buildReducedString(std::uint32_t n, const Name* nameAt, IsMarked isMarked, std::uint32_t count,
                        Name* reduced, RotationStart* positionOf) noexcept {
    std::uint32_t k = 0;
    for (std::uint32_t p = 0; p < n; ++p) {
        reduced[k] = nameAt[p / 2];
        positionOf[k] = static_cast<RotationStart>(p);
        k += isMarked(p);
    }
    std::copy_n(reduced, count, reduced + count);
}

}  // namespace tavrine
