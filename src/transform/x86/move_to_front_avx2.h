// Move-to-front's steps behind a cursor's front with AVX2, for processors
// that have it (chosen at run time, platform/target.h): the table's entries
// behind the front move in 32-byte pieces, each blended by a comparison of
// its lanes' positions with the position that moves, so that no branch
// depends on where the value stands. The SSE2 steps loop piece by piece up
// to the value and mispredict where the loop ends; on high-entropy input
// (positions spread over the whole table) that misprediction is most of a
// step's cost. A position in the first piece behind the front, which is
// where most positions behind it lie in compressible data, moves that piece
// alone; any other the whole table, about forty vector operations.
// Same results as x86::shiftBehindFront and x86::findAndShiftBehindFront.
#pragma once

#include <immintrin.h>

#include <array>
#include <bit>
#include <cstdint>

#include "platform/target.h"

namespace tavrine::x86::avx2 {

constexpr std::uint32_t kTableEntries = 256;
constexpr std::uint32_t kPieceEntries = 32;
constexpr std::uint32_t kHalfPieceEntries = 16;
// Flipping a position's top bit makes a signed byte comparison order
// positions 0..255 as numbers.
constexpr std::uint8_t kPositionBias = 0x80;

// Entry i holds position i biased, for i up to a piece past the table: a
// piece's lane positions are one unaligned load from its first entry.
using BiasedPositions = std::array<std::uint8_t, kTableEntries + kPieceEntries>;
constexpr BiasedPositions makeBiasedPositions() noexcept {
    BiasedPositions positions{};
    for (std::uint32_t i = 0; i < positions.size(); ++i) {
        positions[i] = static_cast<std::uint8_t>(i ^ kPositionBias);
    }
    return positions;
}
alignas(32) inline constexpr BiasedPositions kBiasedPositions = makeBiasedPositions();

TAVRINE_TARGET_AVX2 inline __m256i loadPiece(const std::uint8_t* at) noexcept {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

TAVRINE_TARGET_AVX2 inline void storePiece(std::uint8_t* at, __m256i piece) noexcept {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), piece);
}

// `piece` moved up one lane, byte 31 of `before` entering lane 0.
TAVRINE_TARGET_AVX2 inline __m256i movedBack(__m256i piece, __m256i before) noexcept {
    // The 16 lanes below each half of `piece`: before's high half, piece's low one.
    const __m256i below = _mm256_permute2x128_si256(piece, before, 0x03);
    return _mm256_alignr_epi8(piece, below, kHalfPieceEntries - 1);
}

// The piece that starts at entry `first`, with its lanes up to the biased
// position moved back and the others kept.
TAVRINE_TARGET_AVX2 inline __m256i shiftedThrough(__m256i piece, __m256i before, std::uint32_t first,
                                                  __m256i biasedPosition) noexcept {
    const __m256i kept = _mm256_cmpgt_epi8(loadPiece(kBiasedPositions.data() + first),
                                           biasedPosition);
    return _mm256_blendv_epi8(movedBack(piece, before), piece, kept);
}

// The same for a half piece, the table's last 16 entries behind a front of 16.
TAVRINE_TARGET_AVX2 inline void shiftHalfPieceThrough(std::uint8_t* entries, __m256i before,
                                                      __m256i biasedPosition) noexcept {
    constexpr std::uint32_t first = kTableEntries - kHalfPieceEntries;
    auto* at = reinterpret_cast<__m128i*>(entries + first);
    const __m128i piece = _mm_loadu_si128(at);
    const __m128i moved =
        _mm_alignr_epi8(piece, _mm256_extracti128_si256(before, 1), kHalfPieceEntries - 1);
    const __m128i kept = _mm_cmpgt_epi8(
        _mm_load_si128(reinterpret_cast<const __m128i*>(kBiasedPositions.data() + first)),
        _mm256_castsi256_si128(biasedPosition));
    _mm_storeu_si128(at, _mm_blendv_epi8(moved, piece, kept));
}

// The whole table behind a front of FrontEntries (16 or 32) entries: entries
// FrontEntries .. position-1 move back one place and `leaving` (every lane)
// enters at FrontEntries.
template <std::uint32_t FrontEntries>
TAVRINE_TARGET_AVX2 inline void shiftWholeTable(std::uint8_t* entries, __m256i biasedPosition,
                                                __m256i leaving) noexcept {
    static_assert(FrontEntries == 16 || FrontEntries == 32);
    constexpr std::uint32_t pieces = (kTableEntries - FrontEntries) / kPieceEntries;
    __m256i before = leaving;
    for (std::uint32_t i = 0; i < pieces; ++i) {
        const std::uint32_t first = FrontEntries + i * kPieceEntries;
        const __m256i piece = loadPiece(entries + first);
        storePiece(entries + first, shiftedThrough(piece, before, first, biasedPosition));
        before = piece;
    }
    if constexpr ((kTableEntries - FrontEntries) % kPieceEntries != 0) {
        shiftHalfPieceThrough(entries, before, biasedPosition);
    }
}

// shiftWholeTable for a position in the first piece behind the front.
template <std::uint32_t FrontEntries>
TAVRINE_TARGET_AVX2 inline void shiftFirstPiece(std::uint8_t* entries, __m256i biasedPosition,
                                                __m256i leaving) noexcept {
    const __m256i piece = loadPiece(entries + FrontEntries);
    storePiece(entries + FrontEntries,
               shiftedThrough(piece, leaving, FrontEntries, biasedPosition));
}

TAVRINE_TARGET_AVX2 inline __m256i broadcastBiased(std::uint32_t position) noexcept {
    return _mm256_set1_epi8(static_cast<char>(position ^ kPositionBias));
}

// Moves entries FrontEntries .. position-1 back one place, to FrontEntries+1
// .. position, and `leaving` into entry FrontEntries; position lies behind the front.
template <std::uint32_t FrontEntries = 16>
TAVRINE_TARGET_AVX2 inline void shiftBehindFront(std::uint8_t* entries, std::uint32_t position,
                                                 __m256i leaving) noexcept {
    if (position < FrontEntries + kPieceEntries) {
        shiftFirstPiece<FrontEntries>(entries, broadcastBiased(position), leaving);
    } else {
        shiftWholeTable<FrontEntries>(entries, broadcastBiased(position), leaving);
    }
}

template <std::uint32_t FrontEntries = 16>
TAVRINE_TARGET_AVX2 inline void shiftBehindFront(std::uint8_t* entries, std::uint32_t position,
                                                 std::uint8_t leaving) noexcept {
    shiftBehindFront<FrontEntries>(entries, position, _mm256_set1_epi8(static_cast<char>(leaving)));
}

// The biased position of the one lane that `equal` sets in all the pieces,
// in every lane: the lanes' biased positions masked by the comparisons and
// gathered by ors, then summed across the vector, where only one is not zero.
TAVRINE_TARGET_AVX2 inline __m256i biasedPositionOfEqualLane(__m256i masked) noexcept {
    const __m128i halves =
        _mm_or_si128(_mm256_castsi256_si128(masked), _mm256_extracti128_si256(masked, 1));
    const __m128i sums = _mm_sad_epu8(halves, _mm_setzero_si128());
    return _mm256_broadcastb_epi8(_mm_or_si128(sums, _mm_srli_si128(sums, 8)));
}

// The position of a value that is not in the front of 16 (`wanted` holds it
// in every lane), with the entries from 16 up to it moved back one place and
// `leaving` in entry 16. The table is a permutation, so exactly one lane of
// all the pieces holds the value.
TAVRINE_TARGET_AVX2 inline std::uint32_t findAndShiftBehindFront(std::uint8_t* entries,
                                                                 __m256i wanted,
                                                                 __m256i leaving) noexcept {
    constexpr std::uint32_t front = 16;
    const __m256i firstPiece = loadPiece(entries + front);
    const auto firstHits =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(firstPiece, wanted)));
    if (firstHits != 0) {
        const std::uint32_t position = front + static_cast<std::uint32_t>(std::countr_zero(firstHits));
        storePiece(entries + front,
                   shiftedThrough(firstPiece, leaving, front, broadcastBiased(position)));
        return position;
    }
    constexpr std::uint32_t pieces = (kTableEntries - front) / kPieceEntries;
    __m256i masked = _mm256_setzero_si256();
    for (std::uint32_t i = 1; i < pieces; ++i) {
        const std::uint32_t first = front + i * kPieceEntries;
        const __m256i equal = _mm256_cmpeq_epi8(loadPiece(entries + first), wanted);
        masked = _mm256_or_si256(
            masked, _mm256_and_si256(equal, loadPiece(kBiasedPositions.data() + first)));
    }
    // The last 16 entries, as the low half of a piece whose high half is zero.
    constexpr std::uint32_t half = kTableEntries - kHalfPieceEntries;
    const __m128i lastEqual = _mm_cmpeq_epi8(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries + half)),
        _mm256_castsi256_si128(wanted));
    masked = _mm256_or_si256(
        masked, _mm256_zextsi128_si256(_mm_and_si128(
                    lastEqual, _mm_load_si128(reinterpret_cast<const __m128i*>(
                                   kBiasedPositions.data() + half)))));
    const __m256i biasedPosition = biasedPositionOfEqualLane(masked);
    shiftWholeTable<front>(entries, biasedPosition, leaving);
    return static_cast<std::uint32_t>(_mm256_cvtsi256_si32(biasedPosition) & 0xFF) ^ kPositionBias;
}

TAVRINE_TARGET_AVX2 inline std::uint32_t findAndShiftBehindFront(std::uint8_t* entries,
                                                                 std::uint8_t value,
                                                                 std::uint8_t leaving) noexcept {
    return findAndShiftBehindFront(entries, _mm256_set1_epi8(static_cast<char>(value)),
                                   _mm256_set1_epi8(static_cast<char>(leaving)));
}

// Move-to-front kept the other way round, for encoding: `positions` holds
// each value's position, biased, in 256 bytes aligned to 32. A step reads
// the value's position, then in one pass over the table counts up by one
// every position below it and sets the value's own to 0: no search and no
// branch, about thirty vector operations whatever the position.
constexpr std::uint32_t kPositionsAlignment = 32;

TAVRINE_TARGET_AVX2 inline std::uint32_t moveToFrontByPositions(std::uint8_t* positions,
                                                                std::uint8_t value) noexcept {
    const __m256i moved = _mm256_set1_epi8(static_cast<char>(positions[value]));
    const __m256i front = _mm256_set1_epi8(static_cast<char>(kPositionBias));
    for (std::uint32_t first = 0; first < kTableEntries; first += kPieceEntries) {
        auto* piece = reinterpret_cast<__m256i*>(positions + first);
        const __m256i here = _mm256_load_si256(piece);
        // Subtracting the comparison's all-ones adds 1.
        const __m256i countedUp = _mm256_sub_epi8(here, _mm256_cmpgt_epi8(moved, here));
        _mm256_store_si256(piece,
                           _mm256_blendv_epi8(countedUp, front, _mm256_cmpeq_epi8(here, moved)));
    }
    return static_cast<std::uint32_t>(_mm256_cvtsi256_si32(moved) & 0xFF) ^ kPositionBias;
}

// How many of `count` positions lie behind a front of 16.
TAVRINE_TARGET_AVX2 inline std::uint32_t countBehindFront(const std::uint8_t* positions,
                                                          std::uint32_t count) noexcept {
    constexpr std::uint8_t lastInFront = 15;
    const __m256i last = _mm256_set1_epi8(static_cast<char>(lastInFront));
    std::uint32_t inFront = 0;
    std::uint32_t i = 0;
    for (; i + kPieceEntries <= count; i += kPieceEntries) {
        const __m256i here = loadPiece(positions + i);
        const auto front = static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(here, last), here)));
        inFront += static_cast<std::uint32_t>(std::popcount(front));
    }
    for (; i < count; ++i) inFront += positions[i] <= lastInFront ? 1 : 0;
    return count - inFront;
}

}  // namespace tavrine::x86::avx2
