#include "support/block_coder.h"

namespace tavrine::test {

bool BlockCoder::encodeBlock(std::uint8_t* out, const std::uint8_t* in, std::uint32_t outCap,
                             std::uint32_t inLen, std::uint32_t& count) noexcept {
    if (!modelReady()) return false;
    RangeEncoder encoder = beginEncode(out, outCap);
    for (std::uint32_t i = 0; i < inLen; ++i) encoder.encode(in[i]);
    endEncode(encoder, count);
    return true;
}

// Sound on any input bytes. The loop runs only after priming and only while
// input is left, so its normalisation shifts at least once, starting from a
// range of 2^7 (priming) or of at least one unit of the previous symbol, which
// is 2^11 or more whenever a further pass runs (every frequency is at least 1,
// and the last symbol keeps at least one unit). The divisor is therefore never
// below 2^15 >> 12 = 8. Values past the table are the end-of-block symbol's,
// so the lookup stays inside it; every pass writes a byte, leaves, or fails at
// the capacity, so at most outCap + 1 passes run. On a damaged payload low may
// wrap around, which only changes the symbols decoded.
bool BlockCoder::decodeBlock(std::uint8_t* out, const std::uint8_t* in, std::uint32_t outCap,
                             std::uint32_t inLen, std::uint32_t& count) noexcept {
    if (!modelReady()) return false;
    RangeDecoder decoder = beginDecode(in, inLen);
    std::uint32_t written = 0;
    while (decoder.normalize()) {
        if (written == outCap) {
            // Full: only the end-of-block symbol may still come.
            if (decoder.endOfBlockNext()) break;
            abandonDecode(decoder);
            return false;
        }
        const std::uint32_t symbol = decoder.decodeSymbol();
        if (symbol == static_cast<std::uint32_t>(kEndOfBlock)) break;
        out[written++] = static_cast<std::uint8_t>(symbol);
    }
    endDecode(decoder);
    count = written;
    return true;
}

}  // namespace tavrine::test
