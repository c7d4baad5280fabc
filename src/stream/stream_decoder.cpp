#include "stream/stream_decoder.h"

#include <algorithm>
#include <cstring>

#include "stream/stream_format.h"

namespace tavrine {

StreamDecoder::StreamDecoder()
    : block_(kMaxBlockField), output_(kMaxDecodedBlock), record_(kDecodeRecordCapacity) {
    context_.startStream();
}

void StreamDecoder::deliver(OutputWindow& out) noexcept {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(held(), out.left()));
    if (n == 0) return;
    std::memcpy(out.data + out.pos, output_.data() + heldStart_, n);
    out.pos += n;
    heldStart_ += n;
}

bool StreamDecoder::decodeBlock(BlockHeader header, const std::uint8_t* payload,
                                OutputWindow& out) {
    const std::uint32_t len = header.decodedLength;
    const bool direct = held() == 0 && out.left() >= len;
    std::uint8_t* target = direct ? out.data + out.pos : output_.data();
    // An overrun is refused here as well: the one-shot decoder, too, fails
    // the call at that block, though it keeps the blocks before it.
    if (context_.decodeNextBlock(header, payload, target, record_.data()) !=
        BlockVerdict::decoded) {
        return false;
    }
    if (direct) {
        out.pos += len;
    } else {
        heldStart_ = 0;
        heldEnd_ = len;
    }
    blockOffset_ += header.size;
    return true;
}

CallStatus StreamDecoder::decode(OutputWindow& out, InputWindow& in, Directive directive,
                                 std::size_t& heldBack) {
    heldBack = held();
    if (failure_ != CallStatus::ok) return failure_;
    for (;;) {
        deliver(out);
        if (held() != 0) break;
        if (gathered_ == 0 && in.left() >= kBlockHeaderSize) {
            const BlockHeader header = readBlockHeader(in.data + in.pos);
            if (!headerIsPlausible(header)) return fail(CallStatus::corrupt);
            if (in.left() >= header.size) {
                if (!decodeBlock(header, in.data + in.pos + kBlockHeaderSize, out)) {
                    return fail(CallStatus::corrupt);
                }
                in.pos += header.size;
                continue;
            }
        }
        if (in.left() == 0) break;
        // Gathering: the header first, checked once it is in, then the payload.
        const std::uint32_t wanted =
            gathered_ < kBlockHeaderSize ? kBlockHeaderSize : readBlockHeader(block_.data()).size;
        const auto taken =
            static_cast<std::uint32_t>(std::min<std::size_t>(wanted - gathered_, in.left()));
        std::memcpy(block_.data() + gathered_, in.data + in.pos, taken);
        in.pos += taken;
        gathered_ += taken;
        if (gathered_ != wanted) break;
        const BlockHeader header = readBlockHeader(block_.data());
        if (!headerIsPlausible(header)) return fail(CallStatus::corrupt);
        if (gathered_ < header.size) continue;
        if (!decodeBlock(header, block_.data() + kBlockHeaderSize, out)) {
            return fail(CallStatus::corrupt);
        }
        gathered_ = 0;
    }
    heldBack = held();
    // The end is judged only once every decoded byte before it is out.
    if (directive == Directive::end && in.left() == 0 && heldBack == 0 && gathered_ != 0) {
        return fail(CallStatus::truncated);
    }
    return CallStatus::ok;
}

}  // namespace tavrine
