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

// Sound on any input bytes (range_decoder.h says why); every pass writes a
// byte, leaves, or fails at the capacity, so at most outCap + 1 passes run.
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
