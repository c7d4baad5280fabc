#include "transform/move_to_front.h"

#include "platform/compiler.h"

#if TAVRINE_X86_AVX2_DISPATCH
#include "platform/x86/cpu_features.h"
#endif

namespace tavrine {

namespace {

template <typename Cursor>
TAVRINE_ALWAYS_INLINE void encodeWith(MoveToFrontTable& table, std::uint8_t* dst,
                                      const std::uint8_t* src, std::int32_t count) noexcept {
    Cursor cursor(table);
    for (std::int32_t i = 0; i < count; ++i) {
        dst[i] = static_cast<std::uint8_t>(cursor.encodeByte(src[i]));
    }
}

template <typename Cursor>
TAVRINE_ALWAYS_INLINE void decodeWith(MoveToFrontTable& table, std::uint8_t* dst,
                                      const std::uint8_t* src, std::int32_t count) noexcept {
    Cursor cursor(table);
    for (std::int32_t i = 0; i < count; ++i) dst[i] = cursor.decodePosition(src[i]);
}

#if TAVRINE_X86_AVX2_DISPATCH
TAVRINE_TARGET_AVX2 TAVRINE_NOINLINE void encodeWithTableShifts(MoveToFrontTable& table,
                                                               std::uint8_t* dst,
                                                               const std::uint8_t* src,
                                                               std::int32_t count) noexcept {
    encodeWith<TableShiftWordCursor>(table, dst, src, count);
}

TAVRINE_TARGET_AVX2 TAVRINE_NOINLINE void decodeWithTableShifts(MoveToFrontTable& table,
                                                               std::uint8_t* dst,
                                                               const std::uint8_t* src,
                                                               std::int32_t count) noexcept {
    decodeWith<TableShiftWordCursor>(table, dst, src, count);
}
#endif

}  // namespace

void MoveToFrontTable::reset() noexcept {
    for (std::uint32_t i = 0; i < kValues; ++i) entries_[i] = static_cast<std::uint8_t>(i);
}

// These passes run on uncoded records, whose positions are spread over the
// whole table, and on the records of a decoder with threads: on processors
// with AVX2 the steps behind the front are branch-free.
void MoveToFrontTable::MoveToFrontEncode(std::uint8_t* dst, const std::uint8_t* src,
                                         std::int32_t count) noexcept {
#if TAVRINE_X86_AVX2_DISPATCH
    if (platform::hasAvx2()) return encodeWithTableShifts(*this, dst, src, count);
#endif
    encodeWith<WordFrontCursor>(*this, dst, src, count);
}

void MoveToFrontTable::MoveToFrontDecode(std::uint8_t* dst, const std::uint8_t* src,
                                         std::int32_t count) noexcept {
#if TAVRINE_X86_AVX2_DISPATCH
    if (platform::hasAvx2()) return decodeWithTableShifts(*this, dst, src, count);
#endif
    decodeWith<WordFrontCursor>(*this, dst, src, count);
}

}  // namespace tavrine
