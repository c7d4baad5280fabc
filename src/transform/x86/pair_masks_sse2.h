// The seed scan's pair comparisons of a whole word of positions with SSE2,
// sixteen at a time. Included by seed_scan.cpp when platform/target.h
// selects it.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "transform/seed_scan.h"

namespace tavrine::x86 {

// Compares the pairs at the 64 positions from p; reads p[0 .. 64].
inline PairMasks compareWordOfPairs(const std::uint8_t* p) noexcept {
    constexpr std::uint32_t kPositions = 64;
    constexpr std::uint32_t kLanes = 16;
    // Bytes compare as signed numbers; flipping the top bit orders them as unsigned.
    const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
    PairMasks masks{0, 0};
    for (std::uint32_t lane = 0; lane < kPositions; lane += kLanes) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + lane));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + lane + 1));
        const __m128i below = _mm_cmplt_epi8(_mm_xor_si128(here, flip), _mm_xor_si128(next, flip));
        const __m128i equal = _mm_cmpeq_epi8(here, next);
        masks.below |= std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(below))} << lane;
        masks.equal |= std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(equal))} << lane;
    }
    return masks;
}

}  // namespace tavrine::x86
