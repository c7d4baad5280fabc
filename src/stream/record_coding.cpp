#include "stream/record_coding.h"

namespace tavrine {

std::uint32_t encodeRecord(MoveToFrontTable& table, RangeCoder& coder, std::uint8_t* record,
                           std::uint32_t n, std::uint8_t* out, std::uint32_t outCap) noexcept {
    RangeEncoder encoder = coder.beginEncode(out, outCap);
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t position = table.encodeByte(record[i]);
        record[i] = static_cast<std::uint8_t>(position);
        encoder.encode(position);
    }
    std::uint32_t written = 0;
    coder.endEncode(encoder, written);
    return coder.codedLength();
}

bool decodeRecord(MoveToFrontTable& table, RangeCoder& coder, const std::uint8_t* payload,
                  std::uint32_t payloadLen, std::uint8_t* record, std::uint32_t capacity,
                  std::uint32_t& count) noexcept {
    RangeDecoder decoder = coder.beginDecode(payload, payloadLen);
    std::uint32_t written = 0;
    while (decoder.hasInput()) {
        if (written == capacity) {
            // Full: only the end-of-block symbol may still come.
            if (decoder.decode().symbol == static_cast<std::uint32_t>(kEndOfBlock)) break;
            coder.abandonDecode(decoder);
            return false;
        }
        const std::uint32_t symbol = decoder.decodeNext();
        if (symbol == static_cast<std::uint32_t>(kEndOfBlock)) break;
        record[written++] = table.decodePosition(symbol);
    }
    coder.endDecode(decoder);
    count = written;
    return true;
}

}  // namespace tavrine
