// The type tables, the type tests and the output size bound for encoding.
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "interface/export.h"
#include "stream/stream_format.h"

namespace {

// (type id, variant) pairs, in the order the type test compares them.
constexpr std::uint32_t kEncodeTypeTable[] = {tavrine::kStreamType, tavrine::kVariantUncoded,
                                              tavrine::kStreamType, tavrine::kVariantRangeCoded};
constexpr std::uint32_t kEncodeTypeCount = 2;
static_assert(std::size(kEncodeTypeTable) == std::size_t{2} * kEncodeTypeCount);

constexpr std::uint32_t kDecodeTypeTable[] = {tavrine::kStreamType};
constexpr std::uint32_t kDecodeTypeCount = 1;

constexpr std::uint32_t kBlockShift = 13;  // 8192-byte blocks
static_assert(std::uint32_t{1} << kBlockShift == tavrine::kBlockSize);

}  // namespace

extern "C" {

TAVRINE_ENTRY int ZOLT_CALL ZOLT_GetSupportedEncodeType(const uint32_t** table,
                                                        uint32_t* count) noexcept {
    if (table != nullptr) *table = kEncodeTypeTable;
    if (count != nullptr) *count = kEncodeTypeCount;
    return 1;
}

TAVRINE_ENTRY int ZOLT_CALL ZOLT_IsSupportedEncodeType(uint32_t type, uint32_t variant) noexcept {
    for (std::size_t at = 0; at + 1 < std::size(kEncodeTypeTable); at += 2) {
        if (kEncodeTypeTable[at] == type && kEncodeTypeTable[at + 1] == variant) return 1;
    }
    return 0;
}

// Room for one more full uncoded block than the source needs: before every
// block at least two largest blocks stay free, so the encoder never runs short.
// Plain 32-bit arithmetic, which wraps for sources above 4,291,813,376 bytes.
TAVRINE_ENTRY int ZOLT_CALL ZOLT_GetMaximumEncodedLength(uint32_t type, uint32_t variant,
                                                         uint32_t srcLen, uint32_t* out) noexcept {
    if (out == nullptr) return 0;
    if (ZOLT_IsSupportedEncodeType(type, variant) == 0) return 0;
    const std::uint32_t blocks = (srcLen + (tavrine::kBlockSize - 1)) >> kBlockShift;
    *out = (blocks + 1) * tavrine::kMaxEncodedBlock;
    return 1;
}

TAVRINE_ENTRY int ZOLT_CALL ZOLT_GetSupportedDecodeType(const uint32_t** table,
                                                        uint32_t* count) noexcept {
    if (table != nullptr) *table = kDecodeTypeTable;
    if (count != nullptr) *count = kDecodeTypeCount;
    return 1;
}

TAVRINE_ENTRY int ZOLT_CALL ZOLT_IsSupportedDecodeType(uint32_t type) noexcept {
    for (const std::uint32_t known : kDecodeTypeTable) {
        if (known == type) return 1;
    }
    return 0;
}

}  // extern "C"
