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
// - VectorFrontCursor (SSE2, x86/move_to_front_sse2.h) keeps them in a
//   vector register. Inside the range coder's loop (MoveToFrontCursor) it is
//   the faster one: the coder needs the general-purpose registers for itself.
//   With SSE4.1 (BlendFrontCursor, chosen at run time) its chain is two
//   operations shorter. Other processors use WordFrontCursor there too.
// - WideFrontCursor (SSE2) keeps 32 entries in two vector registers and
//   moves positions up to 31 without a branch: the cursor of the range
//   decoder's loop (MoveToFrontDecodeCursor), whose symbols beyond 2 come
//   after a branch it cannot predict and should not meet another there.
//   With SSSE3 (ShuffleFrontCursor, chosen at run time) its steps are byte
//   shuffles.
// - With AVX2 (chosen at run time) each of these has a TableShift variant,
//   whose steps behind the front shift the whole table in 32-byte pieces
//   without a branch on where the value stands: the steps that dominate on
//   high-entropy input, where the branching search mispredicts its end.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/target.h"

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
    friend class WideFrontCursor;
    friend class PositionTableCursor;

    Entries entries_{};
};

namespace detail {

// The cursors keep the table's first kFrontEntries entries in registers.
constexpr std::uint32_t kWordEntries = 8;
constexpr std::uint32_t kFrontEntries = 2 * kWordEntries;
constexpr std::uint64_t kEveryByte = 0x0101010101010101;
constexpr std::uint64_t kEveryHighBit = 0x8080808080808080;

// The flag of the lowest byte of `word` equal to the byte repeated in
// `pattern` (bit 8i + 7 for byte i), or 0. Flags above it may be false (a
// borrow runs on from the equal byte); a word without an equal byte has none.
constexpr std::uint64_t matchFlags(std::uint64_t word, std::uint64_t pattern) noexcept {
    const std::uint64_t differs = word ^ pattern;
    return (differs - kEveryByte) & ~differs & kEveryHighBit;
}

// The byte of the lowest flag; flags is not 0.
constexpr std::uint32_t flaggedByte(std::uint64_t flags) noexcept {
    return static_cast<std::uint32_t>(std::countr_zero(flags)) >> 3;
}

}  // namespace detail

// The two steps of a cursor on the table's entries behind its front, in
// portable form; x86/move_to_front_sse2.h has them sixteen bytes at a time.
namespace portable {

// The entries behind the front move in 8-byte pieces from the front back,
// each piece stored where it was loaded and taking the last entry of the
// piece before: a search that follows reads whole stored pieces, which the
// processor forwards from its stores, and most moves are too short for a
// call to memmove to pay. `leaving` is the entry that leaves the front for
// entry 16.

// A piece of entries moved back one place, `carried` entering byte 0.
constexpr std::uint64_t movedBack(std::uint64_t word, std::uint64_t carried) noexcept {
    return (word << 8) | carried;
}

// The piece's last entry, which moves on into the next piece.
constexpr std::uint64_t lastEntry(std::uint64_t word) noexcept { return word >> 56; }

// The piece that holds the moved value at byte `lastMoved`: bytes 0 ..
// lastMoved moved back.
constexpr std::uint64_t movedBackThrough(std::uint64_t word, std::uint64_t carried,
                                         std::uint32_t lastMoved) noexcept {
    const std::uint64_t through = ~std::uint64_t{0} >> (56 - 8 * lastMoved);
    return (movedBack(word, carried) & through) | (word & ~through);
}

// Moves entries 16 .. position-1 back one place, to 17 .. position, and
// `leaving` into entry 16.
inline void shiftBehindFront(std::uint8_t* entries, std::uint32_t position,
                             std::uint8_t leaving) noexcept {
    std::uint64_t carried = leaving;
    std::uint32_t at = detail::kFrontEntries;
    for (; position - at >= detail::kWordEntries; at += detail::kWordEntries) {
        const std::uint64_t word = platform::loadLittleEndian64(entries + at);
        platform::storeLittleEndian64(entries + at, movedBack(word, carried));
        carried = lastEntry(word);
    }
    const std::uint64_t word = platform::loadLittleEndian64(entries + at);
    platform::storeLittleEndian64(entries + at, movedBackThrough(word, carried, position - at));
}

// The position of a value that is not in the front, with the entries from 16
// up to it moved back one place and `leaving` in entry 16, in one pass. The
// table is a permutation, so the value stands at some position from 16 to
// 255 and the search ends inside the table.
inline std::uint32_t findAndShiftBehindFront(std::uint8_t* entries, std::uint8_t value,
                                             std::uint8_t leaving) noexcept {
    const std::uint64_t pattern = detail::kEveryByte * value;
    std::uint64_t carried = leaving;
    for (std::uint32_t at = detail::kFrontEntries;; at += detail::kWordEntries) {
        const std::uint64_t word = platform::loadLittleEndian64(entries + at);
        const std::uint64_t flags = detail::matchFlags(word, pattern);
        if (flags != 0) {
            const std::uint32_t byte = detail::flaggedByte(flags);
            platform::storeLittleEndian64(entries + at, movedBackThrough(word, carried, byte));
            return at + byte;
        }
        platform::storeLittleEndian64(entries + at, movedBack(word, carried));
        carried = lastEntry(word);
    }
}

}  // namespace portable

}  // namespace tavrine

// The processor-specific steps and cursor, where the build has them
// (platform/target.h); this is the one place they are chosen. `arch` names
// the steps behind the front; MoveToFrontCursor is the cursor of the loops
// that run move-to-front inside the range coder's pass, and
// MoveToFrontDecodeCursor that of the decoding one, which also has
// decodeInFront for positions known to lie below 16.
#if TAVRINE_X86_SSE2
#include "transform/x86/move_to_front_sse2.h"
namespace tavrine {
namespace arch = x86;
using MoveToFrontCursor = VectorFrontCursor;
using MoveToFrontDecodeCursor = WideFrontCursor;
}  // namespace tavrine
#else
namespace tavrine {
namespace arch = portable;
class WordFrontCursor;
using MoveToFrontCursor = WordFrontCursor;
using MoveToFrontDecodeCursor = WordFrontCursor;
}  // namespace tavrine
#endif

namespace tavrine {

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
        std::uint32_t position = 0;
        if (encodeInFront(value, position)) [[likely]] return position;
        position = arch::findAndShiftBehindFront(entries_, value, leavingFront());
        moveWithinFront(kAllBytes, kAllBytes, value);
        return position;
    }

    // The value at position 0, which decodes position 0 and stays in front.
    std::uint8_t front() const noexcept { return static_cast<std::uint8_t>(low_); }

    // The value at `position` (0..255), which then moves to the front.
    std::uint8_t decodePosition(std::uint32_t position) noexcept {
        if (position < kFrontEntries) [[likely]] return decodeInFront(position);
        const std::uint8_t value = entries_[position];
        arch::shiftBehindFront(entries_, position, leavingFront());
        moveWithinFront(kAllBytes, kAllBytes, value);
        return value;
    }

    // decodePosition for a position below 16.
    std::uint8_t decodeInFront(std::uint32_t position) noexcept {
        const bool inLow = position < kWordEntries;
        const std::uint32_t shift = 8 * (position % kWordEntries);
        const auto value = static_cast<std::uint8_t>((inLow ? low_ : high_) >> shift);
        // Bytes 0 .. position within its word.
        const std::uint64_t through = kAllBytes >> (56 - shift);
        moveWithinFront(inLow ? through : kAllBytes, inLow ? 0 : through, value);
        return value;
    }

protected:
    static constexpr std::uint32_t kWordEntries = detail::kWordEntries;
    static constexpr std::uint32_t kFrontEntries = detail::kFrontEntries;
    static constexpr std::uint64_t kAllBytes = ~std::uint64_t{0};

    // encodeByte for a value in the front: true, with its position, once
    // the value has moved to the front; false, and nothing moved, otherwise.
    bool encodeInFront(std::uint8_t value, std::uint32_t& position) noexcept {
        const std::uint64_t pattern = detail::kEveryByte * value;
        const std::uint64_t lowFlags = detail::matchFlags(low_, pattern);
        const std::uint64_t highFlags = detail::matchFlags(high_, pattern);
        if ((lowFlags | highFlags) == 0) return false;
        // Bytes up to and including the lowest flag, or all bytes of a word
        // without one: the high word moves only when the value was not in
        // the low one.
        const bool inLow = lowFlags != 0;
        const std::uint64_t lowMoved = lowFlags ^ (lowFlags - 1);
        const std::uint64_t highMoved = inLow ? 0 : highFlags ^ (highFlags - 1);
        position = inLow ? detail::flaggedByte(lowFlags) : kWordEntries + detail::flaggedByte(highFlags);
        moveWithinFront(lowMoved, highMoved, value);
        return true;
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

    // The front's last entry, which a move from behind the front pushes out
    // to entry 16.
    std::uint8_t leavingFront() const noexcept { return static_cast<std::uint8_t>(high_ >> 56); }

    // Entries at .. at+7 as a word whose byte i is entry at + i, on any host.
    std::uint64_t loadWord(std::uint32_t at) const noexcept {
        return platform::loadLittleEndian64(entries_ + at);
    }

    void storeWord(std::uint32_t at, std::uint64_t word) noexcept {
        platform::storeLittleEndian64(entries_ + at, word);
    }

    std::uint8_t* entries_;  // the table; its entries 0..15 are stale while the cursor lives
    std::uint64_t low_;      // positions 0..7
    std::uint64_t high_;     // positions 8..15
};

}  // namespace tavrine

#if TAVRINE_X86_AVX2_DISPATCH
// The cursors again with AVX2's steps behind the front
// (x86/move_to_front_avx2.h), for code compiled for AVX2 and run on
// processors that have it: the same positions and table. Their front steps
// are the base cursors'; on high-entropy input, where most positions lie
// behind the front, each step is about twice as fast.
#include "transform/x86/move_to_front_avx2.h"
namespace tavrine {

// WordFrontCursor for the passes that run move-to-front alone.
class TableShiftWordCursor : public WordFrontCursor {
public:
    using WordFrontCursor::WordFrontCursor;

    TAVRINE_TARGET_AVX2 std::uint32_t encodeByte(std::uint8_t value) noexcept {
        std::uint32_t position = 0;
        if (encodeInFront(value, position)) [[likely]] return position;
        position = x86::avx2::findAndShiftBehindFront(entries_, value, leavingFront());
        moveWithinFront(kAllBytes, kAllBytes, value);
        return position;
    }

    TAVRINE_TARGET_AVX2 std::uint8_t decodePosition(std::uint32_t position) noexcept {
        if (position < kFrontEntries) [[likely]] return decodeInFront(position);
        const std::uint8_t value = entries_[position];
        x86::avx2::shiftBehindFront(entries_, position, leavingFront());
        moveWithinFront(kAllBytes, kAllBytes, value);
        return value;
    }
};

// An encoding cursor that keeps each value's position instead of the values
// in order (x86::avx2::moveToFrontByPositions): every step costs the same,
// a little more than the front cursors' step in front and several times
// less than their steps behind it, so the encoder's coding pass takes it for
// stretches where many positions lie behind the front. Building the
// positions and writing the table back take a pass over the 256 values each.
class PositionTableCursor {
public:
    explicit PositionTableCursor(MoveToFrontTable& table) noexcept : entries_(table.entries_.data()) {
        for (std::uint32_t p = 0; p < MoveToFrontTable::kValues; ++p) {
            positions_[entries_[p]] = static_cast<std::uint8_t>(p ^ x86::avx2::kPositionBias);
        }
    }

    ~PositionTableCursor() {
        for (std::uint32_t v = 0; v < MoveToFrontTable::kValues; ++v) {
            entries_[positions_[v] ^ x86::avx2::kPositionBias] = static_cast<std::uint8_t>(v);
        }
    }

    PositionTableCursor(const PositionTableCursor&) = delete;
    PositionTableCursor& operator=(const PositionTableCursor&) = delete;

    TAVRINE_TARGET_AVX2 std::uint32_t encodeByte(std::uint8_t value) noexcept {
        return x86::avx2::moveToFrontByPositions(positions_.data(), value);
    }

private:
    std::uint8_t* entries_;  // the table; stale while the cursor lives
    alignas(x86::avx2::kPositionsAlignment) MoveToFrontTable::Entries positions_{};
};

// BlendFrontCursor for the encoder's coding pass.
class TableShiftBlendCursor : public BlendFrontCursor {
public:
    using BlendFrontCursor::BlendFrontCursor;

    TAVRINE_TARGET_AVX2 std::uint32_t encodeByte(std::uint8_t value) noexcept {
        const __m128i wanted = _mm_set1_epi8(static_cast<char>(value));
        std::uint32_t position = 0;
        if (encodeInFront(wanted, value, position)) [[likely]] return position;
        position = x86::avx2::findAndShiftBehindFront(entries_, _mm256_broadcastb_epi8(wanted),
                                                      _mm256_broadcastb_epi8(x86::lastLane(front_)));
        front_ = x86::movedBack(front_, _mm_cvtsi32_si128(value));
        return position;
    }
};

// ShuffleFrontCursor for the decoder's coding pass.
class TableShiftShuffleCursor : public ShuffleFrontCursor {
public:
    using ShuffleFrontCursor::ShuffleFrontCursor;

    TAVRINE_TARGET_AVX2 std::uint8_t decodePosition(std::uint32_t position) noexcept {
        if (position < x86::kWideFrontEntries) [[likely]] return decodeInWideFront(position);
        first_ = entries_[position];
        x86::avx2::shiftBehindFront<x86::kWideFrontEntries>(
            entries_, position, _mm256_broadcastb_epi8(x86::lastLane(high_)));
        moveFrontBack();
        return first_;
    }
};

}  // namespace tavrine
#endif
