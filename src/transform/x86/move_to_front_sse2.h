// Move-to-front's steps with SSE2: the search and shift of the table behind
// the front sixteen entries at a time, and VectorFrontCursor, which keeps the
// front in a vector register; and the cursors that the fused passes choose
// at run time on processors with SSSE3 (decoding) and SSE4.1 (encoding).
// Included by transform/move_to_front.h, after MoveToFrontTable, when
// platform/target.h selects it.
#pragma once

#include <emmintrin.h>
#include <tmmintrin.h>
#include <smmintrin.h>

#include <array>
#include <bit>
#include <cstdint>

#include "platform/target.h"

namespace tavrine {

namespace x86 {

constexpr std::uint32_t kVectorFrontEntries = 16;

// Row p selects the lanes 0 .. p of the front vector.
using LaneMask = std::array<std::uint8_t, kVectorFrontEntries>;
constexpr std::array<LaneMask, kVectorFrontEntries> makeLaneMasks() noexcept {
    std::array<LaneMask, kVectorFrontEntries> masks{};
    for (std::uint32_t p = 0; p < kVectorFrontEntries; ++p) {
        for (std::uint32_t lane = 0; lane <= p; ++lane) masks[p][lane] = 0xFF;
    }
    return masks;
}
alignas(16) inline constexpr std::array<LaneMask, kVectorFrontEntries> kThroughLane =
    makeLaneMasks();

// `take`'s lanes from `moved`, the others from `kept`.
inline __m128i blendLanes(__m128i take, __m128i moved, __m128i kept) noexcept {
    return _mm_or_si128(_mm_and_si128(take, moved), _mm_andnot_si128(take, kept));
}

// The steps behind a cursor's front, as portable::shiftBehindFront and
// portable::findAndShiftBehindFront (transform/move_to_front.h), sixteen
// entries at a time, for a cursor that holds the first `FrontEntries`
// entries. `leaving` holds in lane 0 the entry that leaves the front; each
// piece's last lane moves on into the next piece the same way.

// A piece of entries moved up one lane, `leaving` entering lane 0.
inline __m128i movedBack(__m128i entries, __m128i leaving) noexcept {
    return _mm_or_si128(_mm_slli_si128(entries, 1), leaving);
}

// The piece's lane 15, which moves on into the next piece, in lane 0.
inline __m128i lastLane(__m128i entries) noexcept {
    return _mm_srli_si128(entries, kVectorFrontEntries - 1);
}

// The piece that holds the moved value at `lane`: lanes 0 .. lane moved back.
inline __m128i movedBackThrough(__m128i entries, __m128i leaving, std::uint32_t lane) noexcept {
    const __m128i take =
        _mm_load_si128(reinterpret_cast<const __m128i*>(kThroughLane[lane].data()));
    return blendLanes(take, movedBack(entries, leaving), entries);
}

template <std::uint32_t FrontEntries = kVectorFrontEntries>
inline void shiftBehindFront(std::uint8_t* entries, std::uint32_t position,
                             __m128i leaving) noexcept {
    std::uint32_t at = FrontEntries;
    for (; position - at >= kVectorFrontEntries; at += kVectorFrontEntries) {
        auto* piece = reinterpret_cast<__m128i*>(entries + at);
        const __m128i entriesHere = _mm_loadu_si128(piece);
        _mm_storeu_si128(piece, movedBack(entriesHere, leaving));
        leaving = lastLane(entriesHere);
    }
    auto* piece = reinterpret_cast<__m128i*>(entries + at);
    _mm_storeu_si128(piece, movedBackThrough(_mm_loadu_si128(piece), leaving, position - at));
}

inline void shiftBehindFront(std::uint8_t* entries, std::uint32_t position,
                             std::uint8_t leaving) noexcept {
    shiftBehindFront(entries, position, _mm_cvtsi32_si128(leaving));
}

// `wanted` holds the value in every lane.
inline std::uint32_t findAndShiftBehindFront(std::uint8_t* entries, __m128i wanted,
                                             __m128i leaving) noexcept {
    for (std::uint32_t at = kVectorFrontEntries;; at += kVectorFrontEntries) {
        auto* piece = reinterpret_cast<__m128i*>(entries + at);
        const __m128i entriesHere = _mm_loadu_si128(piece);
        const auto hits = static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(entriesHere, wanted)));
        if (hits != 0) {
            const auto lane = static_cast<std::uint32_t>(std::countr_zero(hits));
            _mm_storeu_si128(piece, movedBackThrough(entriesHere, leaving, lane));
            return at + lane;
        }
        _mm_storeu_si128(piece, movedBack(entriesHere, leaving));
        leaving = lastLane(entriesHere);
    }
}

inline std::uint32_t findAndShiftBehindFront(std::uint8_t* entries, std::uint8_t value,
                                             std::uint8_t leaving) noexcept {
    return findAndShiftBehindFront(entries, _mm_set1_epi8(static_cast<char>(value)),
                                   _mm_cvtsi32_si128(leaving));
}

// Row p holds the bit counts that shift lane p of the front down to lane 0:
// one for the low 8 lanes, one for the high 8 (a count of 64 clears the half
// that does not hold lane p).
struct LaneShift {
    std::uint64_t low, unusedLow, high, unusedHigh;
};
constexpr std::array<LaneShift, kVectorFrontEntries> makeLaneShifts() noexcept {
    std::array<LaneShift, kVectorFrontEntries> shifts{};
    for (std::uint32_t p = 0; p < kVectorFrontEntries; ++p) {
        shifts[p].low = std::uint64_t{8} * p;
        shifts[p].high = p >= 8 ? std::uint64_t{8} * (p - 8) : 64;
    }
    return shifts;
}
alignas(16) inline constexpr std::array<LaneShift, kVectorFrontEntries> kLaneShift =
    makeLaneShifts();

// The wide cursor's front: two vectors, lanes 0..15 and 16..31.
constexpr std::uint32_t kWideFrontEntries = 2 * kVectorFrontEntries;

// Row p selects the lanes 0 .. p of the wide front, and in `high` all lanes
// when p lies in the second vector.
struct WideLaneMask {
    LaneMask low, high, inHigh;
};
constexpr std::array<WideLaneMask, kWideFrontEntries> makeWideLaneMasks() noexcept {
    std::array<WideLaneMask, kWideFrontEntries> masks{};
    for (std::uint32_t p = 0; p < kWideFrontEntries; ++p) {
        for (std::uint32_t lane = 0; lane < kVectorFrontEntries; ++lane) {
            masks[p].low[lane] = lane <= p ? 0xFF : 0;
            masks[p].high[lane] = kVectorFrontEntries + lane <= p ? 0xFF : 0;
            masks[p].inHigh[lane] = p >= kVectorFrontEntries ? 0xFF : 0;
        }
    }
    return masks;
}
alignas(16) inline constexpr std::array<WideLaneMask, kWideFrontEntries> kThroughWideLane =
    makeWideLaneMasks();

// Row p is move-to-front of position p (0..31) on a front of 32 entries in
// two vectors, as byte shuffles: the new lanes 0..15 are lowFromLow applied
// to lanes 0..15 or'ed with lowFromHigh applied to lanes 16..31, the new
// lanes 16..31 highFromHigh applied to 16..31 or'ed with highFromLow applied
// to 0..15. A control byte with its top bit set gives zero, so each pair
// merges by an or, and no position needs a branch or a blend. Below 16,
// lowFromLow alone is the step: lane p to lane 0, lanes 0 .. p-1 up one.
struct WideFrontShuffle {
    LaneMask lowFromLow, lowFromHigh, highFromHigh, highFromLow;
};
static_assert(sizeof(WideFrontShuffle) == 4 * sizeof(LaneMask),
              "a row's four controls load as consecutive vectors");
constexpr std::uint8_t kZeroLane = 0x80;
constexpr std::array<WideFrontShuffle, kWideFrontEntries> makeWideFrontShuffles() noexcept {
    std::array<WideFrontShuffle, kWideFrontEntries> rows{};
    for (std::uint32_t p = 0; p < kWideFrontEntries; ++p) {
        WideFrontShuffle& row = rows[p];
        const bool inHigh = p >= kVectorFrontEntries;
        const std::uint32_t q = p % kVectorFrontEntries;  // the lane that holds the value
        for (std::uint32_t lane = 0; lane < kVectorFrontEntries; ++lane) {
            const auto below = static_cast<std::uint8_t>(lane - 1);
            const auto same = static_cast<std::uint8_t>(lane);
            row.lowFromHigh[lane] = inHigh && lane == 0 ? static_cast<std::uint8_t>(q) : kZeroLane;
            row.highFromLow[lane] = inHigh && lane == 0 ? kVectorFrontEntries - 1 : kZeroLane;
            if (inHigh) {
                // The value leaves lane q of the high vector for lane 0 of
                // the low one, whose lanes all move up, lane 15 into lane 16.
                row.lowFromLow[lane] = lane == 0 ? kZeroLane : below;
                row.highFromHigh[lane] = lane == 0 ? kZeroLane : lane <= q ? below : same;
            } else {
                row.lowFromLow[lane] = lane == 0 ? static_cast<std::uint8_t>(q) : lane <= q ? below : same;
                row.highFromHigh[lane] = same;
            }
        }
    }
    return rows;
}
alignas(16) inline constexpr std::array<WideFrontShuffle, kWideFrontEntries> kWideFrontShuffle =
    makeWideFrontShuffles();

// The steps for positions below 16 (lowFromLow), in a table of their own:
// the compared symbols' three rows then share a cache line, where taken
// from the wide rows they span three (text decoded about 1 % slower).
constexpr std::array<LaneMask, kVectorFrontEntries> makeFrontShuffles() noexcept {
    std::array<LaneMask, kVectorFrontEntries> rows{};
    for (std::uint32_t p = 0; p < kVectorFrontEntries; ++p) rows[p] = kWideFrontShuffle[p].lowFromLow;
    return rows;
}
alignas(16) inline constexpr std::array<LaneMask, kVectorFrontEntries> kFrontShuffle =
    makeFrontShuffles();

// Lane `lane` (0..15) of `v` in lane 0, the other lanes zero, without
// leaving the register.
inline __m128i laneToFront(__m128i v, std::uint32_t lane) noexcept {
    const auto* shift = reinterpret_cast<const __m128i*>(&kLaneShift[lane]);
    const __m128i low = _mm_srl_epi64(v, _mm_load_si128(shift));
    const __m128i high = _mm_srl_epi64(_mm_srli_si128(v, 8), _mm_load_si128(shift + 1));
    return _mm_and_si128(_mm_or_si128(low, high), _mm_cvtsi32_si128(0xFF));
}

}  // namespace x86

// The same steps with the first 16 entries in a vector register, lane i
// holding position i.
class VectorFrontCursor {
public:
    explicit VectorFrontCursor(MoveToFrontTable& table) noexcept
        : entries_(table.entries_.data()), first_(table.entries_[0]) {
        front_ = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries_));
    }

    ~VectorFrontCursor() { _mm_storeu_si128(reinterpret_cast<__m128i*>(entries_), front_); }

    VectorFrontCursor(const VectorFrontCursor&) = delete;
    VectorFrontCursor& operator=(const VectorFrontCursor&) = delete;

    std::uint32_t encodeByte(std::uint8_t value) noexcept {
        first_ = value;
        const __m128i wanted = _mm_set1_epi8(static_cast<char>(value));
        const __m128i equal = _mm_cmpeq_epi8(front_, wanted);
        const auto hits = static_cast<std::uint32_t>(_mm_movemask_epi8(equal));
        if (hits != 0) [[likely]] {
            // The new front depends on the old one through vector operations
            // alone: the position goes to the caller, not into the move.
            front_ = blendThroughLane(throughEqualLane(equal), _mm_cvtsi32_si128(value));
            return static_cast<std::uint32_t>(std::countr_zero(hits));
        }
        return encodeBehindFront(wanted, value);
    }

    std::uint8_t front() const noexcept { return first_; }

    std::uint8_t decodePosition(std::uint32_t position) noexcept {
        if (position < kFrontEntries) [[likely]] {
            const __m128i value = x86::laneToFront(front_, position);
            front_ = frontWithValueFirst(position, value);
            first_ = static_cast<std::uint8_t>(_mm_cvtsi128_si32(value));
            return first_;
        }
        first_ = entries_[position];
        moveBeyondFront(position, first_);
        return first_;
    }

protected:
    static constexpr std::uint32_t kFrontEntries = x86::kVectorFrontEntries;

    // The front with lanes 0 .. position-1 moved up one lane and `value`
    // (lane 0 of its vector, the other lanes zero) in lane 0; the lanes behind
    // `position` keep their entries. One blend, also for position 0.
    __m128i frontWithValueFirst(std::uint32_t position, __m128i value) const noexcept {
        return blendThroughLane(
            _mm_load_si128(reinterpret_cast<const __m128i*>(x86::kThroughLane[position].data())),
            value);
    }

    // The same with the lanes 0 .. position selected by `take`.
    __m128i blendThroughLane(__m128i take, __m128i value) const noexcept {
        return x86::blendLanes(take, x86::movedBack(front_, value), front_);
    }

    // Lanes 0 .. p set, from a vector whose only set lane is p. Within each
    // 64-bit half, x | (x - 1) sets the bytes up to and including the set
    // one, and all bytes of a half without it; the high half is then cleared
    // when the set lane lies in the low half: then not both of its 32-bit
    // lanes, moved up into the high half, are zero.
    static __m128i throughEqualLane(__m128i equal) noexcept {
        const __m128i upTo = _mm_or_si128(equal, _mm_add_epi64(equal, _mm_set1_epi32(-1)));
        const __m128i zeroWords = _mm_cmpeq_epi32(_mm_slli_si128(equal, 8), _mm_setzero_si128());
        const __m128i zeroHalves =
            _mm_and_si128(zeroWords, _mm_shuffle_epi32(zeroWords, _MM_SHUFFLE(2, 3, 0, 1)));
        return _mm_and_si128(upTo, zeroHalves);
    }

    // Moves `value` from `position` >= 16 to the front: the table's entries
    // 16 .. position-1 move back one place, the front's last lane leaves the
    // register for entry 16, and the front moves up one lane.
    void moveBeyondFront(std::uint32_t position, std::uint8_t value) noexcept {
        x86::shiftBehindFront(entries_, position, x86::lastLane(front_));
        front_ = x86::movedBack(front_, _mm_cvtsi32_si128(value));
    }

    // encodeByte for a value behind the front (`wanted` holds it in every
    // lane): its position, with the value moved to the front.
    std::uint32_t encodeBehindFront(__m128i wanted, std::uint8_t value) noexcept {
        const std::uint32_t position =
            x86::findAndShiftBehindFront(entries_, wanted, x86::lastLane(front_));
        front_ = x86::movedBack(front_, _mm_cvtsi32_si128(value));
        return position;
    }

    std::uint8_t* entries_;  // the table; its entries 0..15 are stale while the cursor lives
    std::uint8_t first_;     // the value at position 0
    __m128i front_;
};

#if TAVRINE_X86_SSE41_DISPATCH
// VectorFrontCursor whose encoding step is two vector operations shorter on
// processors with SSE4.1: one 64-bit comparison keeps the high half of the
// lanes through the equal one, where SSE2 takes three steps, and the blend
// is one instruction. The step's chain runs from byte to byte, at two
// cycles per vector operation on some processors, and is much of the
// encoder's coding pass there. The same positions and table.
class BlendFrontCursor : public VectorFrontCursor {
public:
    using VectorFrontCursor::VectorFrontCursor;

    TAVRINE_TARGET_SSE41 std::uint32_t encodeByte(std::uint8_t value) noexcept {
        const __m128i wanted = _mm_set1_epi8(static_cast<char>(value));
        std::uint32_t position = 0;
        if (encodeInFront(wanted, value, position)) [[likely]] return position;
        return encodeBehindFront(wanted, value);
    }

protected:
    // encodeByte for a value in the front (`wanted` holds it in every lane):
    // true, with its position, once the value has moved to the front; false,
    // and the table not moved, otherwise.
    TAVRINE_TARGET_SSE41 bool encodeInFront(__m128i wanted, std::uint8_t value,
                                            std::uint32_t& position) noexcept {
        first_ = value;
        const __m128i equal = _mm_cmpeq_epi8(front_, wanted);
        const auto hits = static_cast<std::uint32_t>(_mm_movemask_epi8(equal));
        if (hits == 0) return false;
        const __m128i moved = x86::movedBack(front_, _mm_cvtsi32_si128(value));
        front_ = _mm_blendv_epi8(front_, moved, throughEqualLane(equal));
        position = static_cast<std::uint32_t>(std::countr_zero(hits));
        return true;
    }

private:
    // VectorFrontCursor::throughEqualLane: x | (x - 1) in each half, the
    // high half cleared unless the low half is zero.
    TAVRINE_TARGET_SSE41 static __m128i throughEqualLane(__m128i equal) noexcept {
        const __m128i upTo = _mm_or_si128(equal, _mm_add_epi64(equal, _mm_set1_epi32(-1)));
        const __m128i lowHalfZero = _mm_slli_si128(_mm_cmpeq_epi64(equal, _mm_setzero_si128()), 8);
        return _mm_and_si128(upTo, _mm_or_si128(lowHalfZero, _mm_set_epi64x(0, -1)));
    }
};
#endif

// A decoding cursor with the first 32 entries in two vector registers, for
// the fused decoding pass: positions 16 to 31 (3 to 5 % of the positions
// in text, more in other data) move without a branch on where they stand,
// which the range decoder's own unpredictable branches make costly there.
// The vector of lanes 16..31 changes only for those positions.
class WideFrontCursor {
public:
    explicit WideFrontCursor(MoveToFrontTable& table) noexcept
        : entries_(table.entries_.data()), first_(table.entries_[0]) {
        low_ = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries_));
        high_ = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries_ + kLaneCount));
    }

    ~WideFrontCursor() {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(entries_), low_);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(entries_ + kLaneCount), high_);
    }

    WideFrontCursor(const WideFrontCursor&) = delete;
    WideFrontCursor& operator=(const WideFrontCursor&) = delete;

    std::uint8_t front() const noexcept { return first_; }

    // decodePosition for a position below 16, which leaves lanes 16..31 be.
    std::uint8_t decodeInFront(std::uint32_t position) noexcept {
        const __m128i value = x86::laneToFront(low_, position);
        const __m128i take =
            _mm_load_si128(reinterpret_cast<const __m128i*>(x86::kThroughLane[position].data()));
        low_ = x86::blendLanes(take, x86::movedBack(low_, value), low_);
        first_ = static_cast<std::uint8_t>(_mm_cvtsi128_si32(value));
        return first_;
    }

    // The value at `position` (0..255), which then moves to the front.
    std::uint8_t decodePosition(std::uint32_t position) noexcept {
        if (position < x86::kWideFrontEntries) [[likely]] {
            const auto* masks =
                reinterpret_cast<const __m128i*>(&x86::kThroughWideLane[position]);
            const __m128i holder = x86::blendLanes(_mm_load_si128(masks + 2), high_, low_);
            const __m128i value = x86::laneToFront(holder, position % kLaneCount);
            // Lane 15 moves on into lane 16 when the position lies beyond it.
            high_ = x86::blendLanes(_mm_load_si128(masks + 1), shiftedHigh(), high_);
            low_ = x86::blendLanes(_mm_load_si128(masks), x86::movedBack(low_, value), low_);
            first_ = static_cast<std::uint8_t>(_mm_cvtsi128_si32(value));
            return first_;
        }
        return decodeBehindFront(position);
    }

protected:
    static constexpr std::uint32_t kLaneCount = x86::kVectorFrontEntries;

    // decodePosition for a position of 32 or more.
    std::uint8_t decodeBehindFront(std::uint32_t position) noexcept {
        first_ = entries_[position];
        x86::shiftBehindFront<x86::kWideFrontEntries>(entries_, position, x86::lastLane(high_));
        moveFrontBack();
        return first_;
    }

    // Both vectors moved up one lane after a value from behind them, which
    // is first_, left for the front: lane 15 enters lane 16 and first_ lane 0.
    void moveFrontBack() noexcept {
        high_ = shiftedHigh();
        low_ = x86::movedBack(low_, _mm_cvtsi32_si128(first_));
    }

    // Lanes 16..31 moved up one lane, lane 15 entering lane 16.
    __m128i shiftedHigh() const noexcept {
        return x86::movedBack(high_, x86::lastLane(low_));
    }

    std::uint8_t* entries_;  // the table; its entries 0..31 are stale while the cursor lives
    std::uint8_t first_;     // the value at position 0
    __m128i low_;            // positions 0..15
    __m128i high_;           // positions 16..31
};

#if TAVRINE_X86_SSSE3_DISPATCH
// WideFrontCursor whose step for positions below 16 is one byte shuffle, in
// place of some fifteen SSE2 operations: for decoding loops compiled for
// SSSE3, run on processors that have it.
class ShuffleFrontCursor : public WideFrontCursor {
public:
    using WideFrontCursor::WideFrontCursor;

    TAVRINE_TARGET_SSSE3 std::uint8_t decodeInFront(std::uint32_t position) noexcept {
        const auto* control = reinterpret_cast<const __m128i*>(x86::kFrontShuffle[position].data());
        low_ = _mm_shuffle_epi8(low_, _mm_load_si128(control));
        first_ = static_cast<std::uint8_t>(_mm_cvtsi128_si32(low_));
        return first_;
    }

    // WideFrontCursor::decodePosition with four byte shuffles in place of
    // some forty SSE2 operations for positions below 32, a third of the
    // positions in text.
    TAVRINE_TARGET_SSSE3 std::uint8_t decodePosition(std::uint32_t position) noexcept {
        if (position < x86::kWideFrontEntries) [[likely]] return decodeInWideFront(position);
        return decodeBehindFront(position);
    }

protected:
    // decodePosition for a position below 32.
    TAVRINE_TARGET_SSSE3 std::uint8_t decodeInWideFront(std::uint32_t position) noexcept {
        const auto* row = reinterpret_cast<const __m128i*>(&x86::kWideFrontShuffle[position]);
        const __m128i low = low_;
        const __m128i high = high_;
        low_ = _mm_or_si128(_mm_shuffle_epi8(low, _mm_load_si128(row)),
                            _mm_shuffle_epi8(high, _mm_load_si128(row + 1)));
        high_ = _mm_or_si128(_mm_shuffle_epi8(high, _mm_load_si128(row + 2)),
                             _mm_shuffle_epi8(low, _mm_load_si128(row + 3)));
        first_ = static_cast<std::uint8_t>(_mm_cvtsi128_si32(low_));
        return first_;
    }
};
#endif

}  // namespace tavrine
