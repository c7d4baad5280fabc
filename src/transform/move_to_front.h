// Move-to-front: every byte becomes its position in a table of the 256 byte
// values, and that value then moves to the front. Runs of equal bytes become
// runs of zeros. The table carries over from call to call, so encoder and
// decoder must see the same bytes in the same order from the same reset.
//
// MoveToFrontCursor does the one-byte steps, inline, for loops that run
// move-to-front inside another pass. After the block sort nearly all
// positions are small, so a cursor keeps the front of the table in a register
// and searches and moves it there; the rest of the table stays in memory. On
// x86-64 the front is 16 entries in a vector register (SSE2), which leaves the
// general registers to the range coder's loop; elsewhere it is 8 entries in a
// 64-bit word.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define TAVRINE_MOVE_TO_FRONT_SSE2 1
#endif

namespace tavrine {

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
// gone. Byte i of the front word (bits 8i .. 8i+7) is position i.
class WordFrontCursor {
public:
    explicit WordFrontCursor(MoveToFrontTable& table) noexcept : entries_(table.entries_.data()) {
        for (std::uint32_t i = 0; i < kFrontEntries; ++i) {
            front_ |= std::uint64_t{entries_[i]} << (8 * i);
        }
    }

    ~WordFrontCursor() {
        for (std::uint32_t i = 0; i < kFrontEntries; ++i) {
            entries_[i] = static_cast<std::uint8_t>(front_ >> (8 * i));
        }
    }

    WordFrontCursor(const WordFrontCursor&) = delete;
    WordFrontCursor& operator=(const WordFrontCursor&) = delete;

    // The position of `value`, which then moves to the front.
    std::uint32_t encodeByte(std::uint8_t value) noexcept {
        // Zero bytes of `differs` mark the front entries equal to `value`; the
        // table is a permutation, so there is one at most. The borrow test
        // below flags the lowest zero byte exactly (higher flags may be
        // false, and there are none above a true one that matters).
        const std::uint64_t flags = matchFlags(front_, value);
        if (flags != 0) [[likely]] {
            const auto position = static_cast<std::uint32_t>(lowestSetBit(flags) >> 3);
            // Bits up to and including the lowest flag: the bytes 0 .. position.
            moveWithinFront(flags ^ (flags - 1), value);
            return position;
        }
        const std::uint32_t position = findBeyondFront(value);
        moveBeyondFront(position, value);
        return position;
    }

    // The value at position 0, which decodes position 0 and stays in front.
    std::uint8_t front() const noexcept { return static_cast<std::uint8_t>(front_); }

    // The value at `position` (0..255), which then moves to the front.
    std::uint8_t decodePosition(std::uint32_t position) noexcept {
        if (position < kFrontEntries) [[likely]] {
            const std::uint32_t shift = 8 * position;
            const auto value = static_cast<std::uint8_t>(front_ >> shift);
            moveWithinFront(~std::uint64_t{0} >> (56 - shift), value);
            return value;
        }
        const std::uint8_t value = entries_[position];
        moveBeyondFront(position, value);
        return value;
    }

private:
    static constexpr std::uint32_t kFrontEntries = 8;
    static constexpr std::uint64_t kEveryByte = 0x0101010101010101;
    static constexpr std::uint64_t kEveryHighBit = 0x8080808080808080;

    static std::uint32_t lowestSetBit(std::uint64_t bits) noexcept {
        return static_cast<std::uint32_t>(__builtin_ctzll(bits));
    }

    // The flag of the lowest byte of `word` that equals `value` (bit 8i + 7
    // for byte i), or 0; higher flags may be false, the lowest one is exact.
    static std::uint64_t matchFlags(std::uint64_t word, std::uint8_t value) noexcept {
        const std::uint64_t differs = word ^ (kEveryByte * value);
        return (differs - kEveryByte) & ~differs & kEveryHighBit;
    }

    // The position of a value that is not in the front, eight entries at a
    // time. The table is a permutation, so the value stands at some position
    // from 8 to 255 and the search ends inside the table.
    std::uint32_t findBeyondFront(std::uint8_t value) const noexcept {
        for (std::uint32_t at = kFrontEntries;; at += kFrontEntries) {
            const std::uint64_t flags = matchFlags(loadEntries(at), value);
            if (flags != 0) return at + (lowestSetBit(flags) >> 3);
        }
    }

    // Entries at .. at+7 as a word whose byte i is entry at + i, on any host.
    std::uint64_t loadEntries(std::uint32_t at) const noexcept {
        std::uint64_t word = 0;
        std::memcpy(&word, entries_ + at, sizeof(word));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        word = __builtin_bswap64(word);
#endif
        return word;
    }

    // `moved` selects the front bytes 0 .. position: they take the byte below
    // them and `value` enters byte 0; the bytes above keep their entries.
    void moveWithinFront(std::uint64_t moved, std::uint8_t value) noexcept {
        front_ = (((front_ << 8) | value) & moved) | (front_ & ~moved);
    }

    // Moves `value` from `position` >= 8 to the front: the table's entries
    // 8 .. position-1 move back one place, the front's last byte leaves the
    // register for entry 8, and `value` enters the front.
    void moveBeyondFront(std::uint32_t position, std::uint8_t value) noexcept {
        std::memmove(entries_ + kFrontEntries + 1, entries_ + kFrontEntries,
                     position - kFrontEntries);
        entries_[kFrontEntries] = static_cast<std::uint8_t>(front_ >> 56);
        front_ = (front_ << 8) | value;
    }

    std::uint8_t* entries_;    // the table; its entries 0..7 are stale while the cursor lives
    std::uint64_t front_ = 0;  // positions 0..7
};

#if defined(TAVRINE_MOVE_TO_FRONT_SSE2)
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
// holding position i. A value in the front, repeated or not, is found and
// moved without a branch that depends on where it stands.
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
        const auto hits =
            static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(front_, wanted)));
        if (hits != 0) [[likely]] {
            const auto position = static_cast<std::uint32_t>(__builtin_ctz(hits));
            front_ = frontWithValueFirst(position, _mm_cvtsi32_si128(value));
            return position;
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
        const __m128i moved = _mm_or_si128(_mm_slli_si128(front_, 1), value);
        const __m128i take =
            _mm_load_si128(reinterpret_cast<const __m128i*>(detail::kThroughLane[position].data()));
        return _mm_or_si128(_mm_and_si128(take, moved), _mm_andnot_si128(take, front_));
    }

    // Moves `value` from `position` >= 16 to the front: the table's entries
    // 16 .. position-1 move back one place, the front's last lane leaves the
    // register for entry 16, and the front moves up one lane.
    void moveBeyondFront(std::uint32_t position, std::uint8_t value) noexcept {
        std::memmove(entries_ + kFrontEntries + 1, entries_ + kFrontEntries,
                     position - kFrontEntries);
        entries_[kFrontEntries] = static_cast<std::uint8_t>(_mm_extract_epi16(front_, 7) >> 8);
        front_ = _mm_or_si128(_mm_slli_si128(front_, 1), _mm_cvtsi32_si128(value));
    }

    std::uint8_t* entries_;  // the table; its entries 0..15 are stale while the cursor lives
    std::uint8_t first_;     // the value at position 0
    __m128i front_;
};

using MoveToFrontCursor = VectorFrontCursor;
#else
using MoveToFrontCursor = WordFrontCursor;
#endif

}  // namespace tavrine
