// Move-to-front: every byte becomes its position in a table of the 256 byte
// values, and that value then moves to the front. Runs of equal bytes become
// runs of zeros. The table carries over from call to call, so encoder and
// decoder must see the same bytes in the same order from the same reset.
//
// The cursors do the one-byte steps, inline. After the block sort nearly all
// positions are small (in text 95 % are below 16), so a cursor keeps the
// first 16 entries of the table in registers and searches and moves them
// there without a branch on where the value stands; the rest of the table
// stays in memory. Every step depends on the table the step before left, so
// the length of that chain sets the speed:
// - WordFrontCursor keeps them in two 64-bit words. The processors this runs
//   on take one cycle for a scalar operation and two for a vector integer
//   one, so this is the faster cursor on its own (MoveToFrontEncode and
//   MoveToFrontDecode).
// - VectorFrontCursor (SSE2) keeps them in a vector register. Inside the
//   range coder's loop (MoveToFrontCursor) it is the faster one: the coder
//   needs the general-purpose registers for itself.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavrine {

namespace detail {

// Moves table entries 16 .. position-1 back one place, to 17 .. position, for
// a cursor that holds entries 0..15 in registers and sets entry 16 next: the
// entries below 17 may take any bytes. With SSE2, in 16-byte pieces from the
// top down, each stored above the next one read, so no byte is read after it
// was overwritten; the lowest piece may reach into the entries below 17,
// never below the table. Most moves are short, and a call to memmove would
// cost more than the copying.
inline void shiftBehindFront(std::uint8_t* entries, std::uint32_t position) noexcept {
    constexpr std::uint32_t kFront = 16;
#if defined(__SSE2__)
    constexpr std::uint32_t kPiece = 16;
    for (std::uint32_t end = position; end > kFront; end -= kPiece) {
        const __m128i piece =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries + end - kPiece));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(entries + end - kPiece + 1), piece);
    }
#else
    std::memmove(entries + kFront + 1, entries + kFront, position - kFront);
#endif
}

}  // namespace detail

class MoveToFrontTable {
public:
    static constexpr std::uint32_t kValues = 256;
    using Entries = std::array<std::uint8_t, kValues>;

    MoveToFrontTable() noexcept { reset(); }

    // Position i holds value i.
    void reset() noexcept;

    // Replaces count bytes (none when count <= 0) by their table positions.
    // Byte i is written after byte i is read, so dst may equal src.
    void MoveToFrontEncode(std::uint8_t* dst, const std::uint8_t* src, std::int32_t count) noexcept;

    // Replaces count positions (none when count <= 0) by the values they name;
    // the inverse of MoveToFrontEncode from the same table. dst may equal src.
    void MoveToFrontDecode(std::uint8_t* dst, const std::uint8_t* src, std::int32_t count) noexcept;

    // Position 0 is the front; always a permutation of 0 .. 255.
    const Entries& entries() const noexcept { return entries_; }

private:
    friend class WordFrontCursor;
    friend class VectorFrontCursor;

    Entries entries_{};
};

// Runs move-to-front byte by byte on a table, which must not be used otherwise
// while the cursor lives; the table is up to date again once the cursor is
// gone. Byte i of `low_` (bits 8i .. 8i+7) is position i, byte i of `high_`
// position 8 + i.
class WordFrontCursor {
public:
    explicit WordFrontCursor(MoveToFrontTable& table) noexcept
        : entries_(table.entries_.data()), low_(loadWord(0)), high_(loadWord(kWordEntries)) {}

    ~WordFrontCursor() {
        storeWord(0, low_);
        storeWord(kWordEntries, high_);
    }

    WordFrontCursor(const WordFrontCursor&) = delete;
    WordFrontCursor& operator=(const WordFrontCursor&) = delete;

    // The position of `value`, which then moves to the front.
    std::uint32_t encodeByte(std::uint8_t value) noexcept {
        const std::uint64_t pattern = kEveryByte * value;
        const std::uint64_t lowFlags = matchFlags(low_, pattern);
        const std::uint64_t highFlags = matchFlags(high_, pattern);
        if ((lowFlags | highFlags) != 0) [[likely]] {
            // Bytes up to and including the lowest flag, or all bytes of a
            // word without one: the high word moves only when the value was
            // not in the low one.
            const bool inLow = lowFlags != 0;
            const std::uint64_t lowMoved = lowFlags ^ (lowFlags - 1);
            const std::uint64_t highMoved = inLow ? 0 : highFlags ^ (highFlags - 1);
            const std::uint32_t position =
                inLow ? flaggedByte(lowFlags) : kWordEntries + flaggedByte(highFlags);
            moveWithinFront(lowMoved, highMoved, value);
            return position;
        }
        const std::uint32_t position = findBeyondFront(value);
        moveBeyondFront(position, value);
        return position;
    }

    // The value at position 0, which decodes position 0 and stays in front.
    std::uint8_t front() const noexcept { return static_cast<std::uint8_t>(low_); }

    // The value at `position` (0..255), which then moves to the front.
    std::uint8_t decodePosition(std::uint32_t position) noexcept {
        if (position < kFrontEntries) [[likely]] {
            const bool inLow = position < kWordEntries;
            const std::uint32_t shift = 8 * (position % kWordEntries);
            const auto value = static_cast<std::uint8_t>((inLow ? low_ : high_) >> shift);
            // Bytes 0 .. position within its word.
            const std::uint64_t through = kAllBytes >> (56 - shift);
            moveWithinFront(inLow ? through : kAllBytes, inLow ? 0 : through, value);
            return value;
        }
        const std::uint8_t value = entries_[position];
        moveBeyondFront(position, value);
        return value;
    }

private:
    static constexpr std::uint32_t kWordEntries = 8;
    static constexpr std::uint32_t kFrontEntries = 2 * kWordEntries;
    static constexpr std::uint64_t kAllBytes = ~std::uint64_t{0};
    static constexpr std::uint64_t kEveryByte = 0x0101010101010101;
    static constexpr std::uint64_t kEveryHighBit = 0x8080808080808080;

    // The flag of the lowest byte of `word` equal to the byte repeated in
    // `pattern` (bit 8i + 7 for byte i), or 0. Flags above it may be false
    // (a borrow runs on from the equal byte); a word without an equal byte
    // has none.
    static std::uint64_t matchFlags(std::uint64_t word, std::uint64_t pattern) noexcept {
        const std::uint64_t differs = word ^ pattern;
        return (differs - kEveryByte) & ~differs & kEveryHighBit;
    }

    // The byte of the lowest flag.
    static std::uint32_t flaggedByte(std::uint64_t flags) noexcept {
        return static_cast<std::uint32_t>(__builtin_ctzll(flags)) >> 3;
    }

    // In each word the bytes that `moved` selects take the byte below them,
    // position 0 takes `value` and position 8 the low word's last byte; the
    // bytes not selected keep their entries.
    void moveWithinFront(std::uint64_t lowMoved, std::uint64_t highMoved,
                         std::uint8_t value) noexcept {
        const std::uint64_t lowShifted = (low_ << 8) | value;
        const std::uint64_t highShifted = (high_ << 8) | (low_ >> 56);
        low_ ^= (low_ ^ lowShifted) & lowMoved;
        high_ ^= (high_ ^ highShifted) & highMoved;
    }

    // Moves `value` from `position` >= 16 to the front: the table's entries
    // 16 .. position-1 move back one place, the front's last entry leaves the
    // high word for entry 16, and the whole front moves up one place.
    void moveBeyondFront(std::uint32_t position, std::uint8_t value) noexcept {
        detail::shiftBehindFront(entries_, position);
        entries_[kFrontEntries] = static_cast<std::uint8_t>(high_ >> 56);
        moveWithinFront(kAllBytes, kAllBytes, value);
    }

    // The position of a value that is not in the front. The table is a
    // permutation, so the value stands at some position from 16 to 255 and
    // the search ends inside the table.
    std::uint32_t findBeyondFront(std::uint8_t value) const noexcept {
#if defined(__SSE2__)
        const __m128i wanted = _mm_set1_epi8(static_cast<char>(value));
        for (std::uint32_t at = kFrontEntries;; at += 16) {
            const __m128i entries = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries_ + at));
            const auto hits =
                static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(entries, wanted)));
            if (hits != 0) return at + static_cast<std::uint32_t>(__builtin_ctz(hits));
        }
#else
        const std::uint64_t pattern = kEveryByte * value;
        for (std::uint32_t at = kFrontEntries;; at += kWordEntries) {
            const std::uint64_t flags = matchFlags(loadWord(at), pattern);
            if (flags != 0) return at + flaggedByte(flags);
        }
#endif
    }

    // Entries at .. at+7 as a word whose byte i is entry at + i, on any host.
    std::uint64_t loadWord(std::uint32_t at) const noexcept {
        std::uint64_t word = 0;
        std::memcpy(&word, entries_ + at, sizeof(word));
        return littleEndian(word);
    }

    void storeWord(std::uint32_t at, std::uint64_t word) noexcept {
        word = littleEndian(word);
        std::memcpy(entries_ + at, &word, sizeof(word));
    }

    static std::uint64_t littleEndian(std::uint64_t word) noexcept {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        return __builtin_bswap64(word);
#else
        return word;
#endif
    }

    std::uint8_t* entries_;  // the table; its entries 0..15 are stale while the cursor lives
    std::uint64_t low_;      // positions 0..7
    std::uint64_t high_;     // positions 8..15
};

#if defined(__SSE2__)
namespace detail {

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

}  // namespace detail

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
            return static_cast<std::uint32_t>(__builtin_ctz(hits));
        }
        const std::uint32_t position = findBeyondFront(wanted);
        moveBeyondFront(position, value);
        return position;
    }

    std::uint8_t front() const noexcept { return first_; }

    std::uint8_t decodePosition(std::uint32_t position) noexcept {
        if (position < kFrontEntries) [[likely]] {
            // Lane `position` shifted down to lane 0, without leaving the register.
            const auto* shift = reinterpret_cast<const __m128i*>(&detail::kLaneShift[position]);
            const __m128i low = _mm_srl_epi64(front_, _mm_load_si128(shift));
            const __m128i high =
                _mm_srl_epi64(_mm_srli_si128(front_, 8), _mm_load_si128(shift + 1));
            const __m128i value = _mm_and_si128(_mm_or_si128(low, high), _mm_cvtsi32_si128(0xFF));
            front_ = frontWithValueFirst(position, value);
            first_ = static_cast<std::uint8_t>(_mm_cvtsi128_si32(value));
            return first_;
        }
        first_ = entries_[position];
        moveBeyondFront(position, first_);
        return first_;
    }

private:
    static constexpr std::uint32_t kFrontEntries = detail::kVectorFrontEntries;

    // The position of a value that is not in the front (`wanted` holds it in
    // every lane), sixteen entries at a time. The table is a permutation, so
    // the value stands at some position from 16 to 255 and the search ends
    // inside the table.
    std::uint32_t findBeyondFront(__m128i wanted) const noexcept {
        for (std::uint32_t at = kFrontEntries;; at += kFrontEntries) {
            const __m128i entries = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries_ + at));
            const auto hits =
                static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(entries, wanted)));
            if (hits != 0) return at + static_cast<std::uint32_t>(__builtin_ctz(hits));
        }
    }

    // The front with lanes 0 .. position-1 moved up one lane and `value`
    // (lane 0 of its vector, the other lanes zero) in lane 0; the lanes behind
    // `position` keep their entries. One blend, also for position 0.
    __m128i frontWithValueFirst(std::uint32_t position, __m128i value) const noexcept {
        return blendThroughLane(
            _mm_load_si128(reinterpret_cast<const __m128i*>(detail::kThroughLane[position].data())),
            value);
    }

    // The same with the lanes 0 .. position selected by `take`.
    __m128i blendThroughLane(__m128i take, __m128i value) const noexcept {
        const __m128i moved = _mm_or_si128(_mm_slli_si128(front_, 1), value);
        return _mm_or_si128(_mm_and_si128(take, moved), _mm_andnot_si128(take, front_));
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
        detail::shiftBehindFront(entries_, position);
        entries_[kFrontEntries] = static_cast<std::uint8_t>(_mm_extract_epi16(front_, 7) >> 8);
        front_ = _mm_or_si128(_mm_slli_si128(front_, 1), _mm_cvtsi32_si128(value));
    }

    std::uint8_t* entries_;  // the table; its entries 0..15 are stale while the cursor lives
    std::uint8_t first_;     // the value at position 0
    __m128i front_;
};

// The cursor of the loops that run move-to-front inside the range coder's pass.
using MoveToFrontCursor = VectorFrontCursor;
#else
using MoveToFrontCursor = WordFrontCursor;
#endif

}  // namespace tavrine
