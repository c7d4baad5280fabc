// Move-to-front: every byte becomes its position in a table of the 256 byte
// values, and that value then moves to the front. Runs of equal bytes become
// runs of zeros. The table carries over from call to call, so encoder and
// decoder must see the same bytes in the same order from the same reset.
//
// encodeByte and decodePosition are the one-byte steps, inline for loops that
// run move-to-front inside another pass. After the block sort nearly all
// positions are small, so the first 16 entries are searched and moved as one
// vector on x86-64 (SSE2); other targets use the portable byte loop.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define TAVRINE_MOVE_TO_FRONT_SSE2 1
#endif

namespace tavrine {

namespace detail {

constexpr std::uint32_t kFrontEntries = 16;  // one vector

#if defined(TAVRINE_MOVE_TO_FRONT_SSE2)
// Row p selects the lanes 0 .. p of the front vector.
using LaneMask = std::array<std::uint8_t, kFrontEntries>;
constexpr std::array<LaneMask, kFrontEntries> makeLaneMasks() noexcept {
    std::array<LaneMask, kFrontEntries> masks{};
    for (std::uint32_t p = 0; p < kFrontEntries; ++p) {
        for (std::uint32_t lane = 0; lane <= p; ++lane) masks[p][lane] = 0xFF;
    }
    return masks;
}
alignas(16) inline constexpr std::array<LaneMask, kFrontEntries> kThroughPosition = makeLaneMasks();
#endif

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

    // The position of `value`, which then moves to the front.
    std::uint32_t encodeByte(std::uint8_t value) noexcept {
        if (entries_[0] == value) return 0;
        const std::uint32_t position = find(value);
        moveToFront(position);
        return position;
    }

    // The value at `position` (0..255), which then moves to the front.
    std::uint8_t decodePosition(std::uint32_t position) noexcept {
        const std::uint8_t value = entries_[position];
        moveToFront(position);
        return value;
    }

    // Position 0 is the front; always a permutation of 0 .. 255.
    const Entries& entries() const noexcept { return entries_; }

private:
    static constexpr std::uint32_t kFrontEntries = detail::kFrontEntries;

    // The table is a permutation, so the search ends by position 255.
    std::uint32_t find(std::uint8_t value) const noexcept {
#if defined(TAVRINE_MOVE_TO_FRONT_SSE2)
        const __m128i wanted = _mm_set1_epi8(static_cast<char>(value));
        for (std::uint32_t start = 0;; start += kFrontEntries) {
            const __m128i entries =
                _mm_load_si128(reinterpret_cast<const __m128i*>(entries_.data() + start));
            const auto hits = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(entries, wanted)));
            if (hits != 0) return start + static_cast<std::uint32_t>(__builtin_ctz(hits));
        }
#else
        std::uint32_t position = 0;
        while (entries_[position] != value) ++position;
        return position;
#endif
    }

    // Moves the entries at 0 .. position-1 one place back and the entry at
    // `position` to the front; the entries behind it keep their places. Within
    // the front vector this is one blend, also for position 0.
    void moveToFront(std::uint32_t position) noexcept {
#if defined(TAVRINE_MOVE_TO_FRONT_SSE2)
        if (position < kFrontEntries) [[likely]] {
            auto* front = reinterpret_cast<__m128i*>(entries_.data());
            const __m128i old = _mm_load_si128(front);
            const __m128i moved = _mm_or_si128(_mm_slli_si128(old, 1), _mm_cvtsi32_si128(entries_[position]));
            const __m128i take = _mm_load_si128(reinterpret_cast<const __m128i*>(detail::kThroughPosition[position].data()));
            _mm_store_si128(front, _mm_or_si128(_mm_and_si128(take, moved), _mm_andnot_si128(take, old)));
            return;
        }
#endif
        const std::uint8_t value = entries_[position];
        std::memmove(entries_.data() + 1, entries_.data(), position);
        entries_[0] = value;
    }

    alignas(16) Entries entries_{};
};

}  // namespace tavrine
