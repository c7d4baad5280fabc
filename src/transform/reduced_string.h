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

// Writes the reduced string of the `count` marked positions of a string,
// given in the order they stand there (positionOf[k] is the k-th): their
// names, doubled (reduced[k] = reduced[k mod count] for k < 2 count).
// reduced takes 2 count + 1 entries.
inline void buildReducedString(const Name* nameAt, const RotationStart* positionOf,
                               std::uint32_t count, Name* reduced) noexcept {
    for (std::uint32_t k = 0; k < count; ++k) reduced[k] = nameAt[positionOf[k] / 2];
    std::copy_n(reduced, count, reduced + count);
}

}  // namespace tavrine
