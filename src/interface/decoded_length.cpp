// The decoded-length walk: sums the block headers of a stream without
// decoding any payload.
#include <cstdint>

#include "interface/export.h"
#include "stream/stream_format.h"

extern "C" TAVRINE_ENTRY int ZOLT_CALL ZOLT_GetDecodedLength(uint32_t type, const void* src,
                                                             uint32_t srcLen,
                                                             uint32_t* out) noexcept {
    if (out == nullptr) return 0;
    if (ZOLT_IsSupportedDecodeType(type) == 0) return 0;
    if (srcLen == 0) {
        *out = 0;
        return 1;
    }
    if (src == nullptr) return 0;

    // The result word holds the lengths walked so far also when the walk fails:
    // hosts read it as the decodable prefix of a damaged stream.
    const auto* stream = static_cast<const std::uint8_t*>(src);
    *out = 0;
    std::uint32_t consumed = 0;
    while (consumed < srcLen) {
        if (srcLen - consumed <= tavrine::kBlockHeaderSize) return 0;
        const tavrine::BlockHeader header = tavrine::readBlockHeader(stream + consumed);
        if (header.size == 0) return 0;  // the walk could not advance
        // Compared against what is left, so that neither sum can wrap around.
        if (header.size > srcLen - consumed) return 0;
        if (header.decodedLength > UINT32_MAX - *out) return 0;  // not a 32-bit length
        consumed += header.size;
        *out += header.decodedLength;
    }
    return consumed == srcLen ? 1 : 0;
}
