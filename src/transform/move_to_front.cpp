#include "transform/move_to_front.h"

#include <cstring>

namespace tavrine {

void MoveToFrontTable::reset() noexcept {
    for (std::uint32_t i = 0; i < kValues; ++i) entries_[i] = static_cast<std::uint8_t>(i);
}

// Shifts positions 0 .. position-1 back by one and puts the value found at
// `position` in front; the other entries keep their places.
void MoveToFrontTable::moveToFront(std::uint32_t position) noexcept {
    const std::uint8_t value = entries_[position];
    std::memmove(entries_.data() + 1, entries_.data(), position);
    entries_[0] = value;
}

void MoveToFrontTable::MoveToFrontEncode(std::uint8_t* dst, const std::uint8_t* src,
                                         std::int32_t count) noexcept {
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint8_t value = src[i];
        // The table is a permutation, so the search ends by position 255.
        std::uint32_t position = 0;
        while (entries_[position] != value) ++position;
        if (position != 0) moveToFront(position);
        dst[i] = static_cast<std::uint8_t>(position);
    }
}

void MoveToFrontTable::MoveToFrontDecode(std::uint8_t* dst, const std::uint8_t* src,
                                         std::int32_t count) noexcept {
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint32_t position = src[i];
        const std::uint8_t value = entries_[position];
        if (position != 0) moveToFront(position);
        dst[i] = value;
    }
}

}  // namespace tavrine
