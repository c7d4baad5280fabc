#include "transform/move_to_front.h"

namespace tavrine {

void MoveToFrontTable::reset() noexcept {
    for (std::uint32_t i = 0; i < kValues; ++i) entries_[i] = static_cast<std::uint8_t>(i);
}

void MoveToFrontTable::MoveToFrontEncode(std::uint8_t* dst, const std::uint8_t* src,
                                         std::int32_t count) noexcept {
    WordFrontCursor cursor(*this);
    for (std::int32_t i = 0; i < count; ++i) {
        dst[i] = static_cast<std::uint8_t>(cursor.encodeByte(src[i]));
    }
}

void MoveToFrontTable::MoveToFrontDecode(std::uint8_t* dst, const std::uint8_t* src,
                                         std::int32_t count) noexcept {
    WordFrontCursor cursor(*this);
    for (std::int32_t i = 0; i < count; ++i) dst[i] = cursor.decodePosition(src[i]);
}

}  // namespace tavrine
