#include "stream/record_coding.h"

namespace tavrine {

std::uint32_t encodeRecord(MoveToFrontTable& table, RangeCoder& coder, std::uint8_t* record,
                           std::uint32_t n, std::uint8_t* out, std::uint32_t outCap) noexcept {
    RangeEncoder encoder = coder.beginEncode(out, outCap);
    MoveToFrontCursor cursor(table);
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t position = cursor.encodeByte(record[i]);
        record[i] = static_cast<std::uint8_t>(position);
        encoder.encode(position);
    }
    std::uint32_t written = 0;
    coder.endEncode(encoder, written);
    return coder.codedLength();
}

std::uint32_t encodeRecordIfShorter(MoveToFrontTable& table, RangeCoder& coder,
                                    std::uint8_t* record, std::uint32_t n,
                                    std::uint8_t* out) noexcept {
    LimitedRangeEncoder encoder = coder.beginLimitedEncode(out, n);
    MoveToFrontCursor cursor(table);
    std::uint8_t* const end = record + n;
    std::uint8_t* at = record;
    for (; at != end && !encoder.cannotBeShorter(); ++at) {
        const std::uint32_t position = cursor.encodeByte(*at);
        *at = static_cast<std::uint8_t>(position);
        encoder.encode(position);
    }
    if (at == end && !encoder.cannotBeShorter()) return encoder.finish();
    // The record is stored: move-to-front runs on through the rest of it.
    encoder.abandon();
    for (; at != end; ++at) *at = static_cast<std::uint8_t>(cursor.encodeByte(*at));
    return n;
}

// One loop for the whole payload; its only test of the input's end is inside
// decoder.normalize() (range_decoder.h). The symbols that decodeSymbol
// compares for take move-to-front's short step, on a branch that follows the
// decoder's own; the others its general one.
bool decodeRecord(MoveToFrontTable& table, RangeCoder& coder, const std::uint8_t* payload,
                  std::uint32_t payloadLen, std::uint8_t* record, std::uint32_t capacity,
                  std::uint32_t& count) noexcept {
    static_assert(RangeDecoder::kComparedSymbols <= 16, "decodeInFront takes positions below 16");
    RangeDecoder decoder = coder.beginDecode(payload, payloadLen);
    MoveToFrontDecodeCursor cursor(table);
    std::uint32_t written = 0;
    while (decoder.normalize()) {
        if (written == capacity) [[unlikely]] {
            // Full: only the end-of-block symbol may still come.
            if (decoder.endOfBlockNext()) break;
            coder.abandonDecode(decoder);
            return false;
        }
        // Runs of symbol 0 repeat the value in front and leave the table be.
        if (decoder.zeroDominates() && decoder.tryDecodeZero()) {
            record[written++] = cursor.front();
            continue;
        }
        const std::uint32_t symbol = decoder.decodeSymbol();
        if (symbol < RangeDecoder::kComparedSymbols) {
            record[written++] = cursor.decodeInFront(symbol);
            continue;
        }
        if (symbol == static_cast<std::uint32_t>(kEndOfBlock)) break;
        record[written++] = cursor.decodePosition(symbol);
    }
    coder.endDecode(decoder);
    count = written;
    return true;
}

}  // namespace tavrine
