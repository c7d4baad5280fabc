#include "stream/stream_encoder.h"

#include <algorithm>
#include <cstring>

#include "stream/stream_format.h"

namespace tavrine {

StreamEncoder::StreamEncoder(std::uint32_t variant)
    : variant_(variant),
      input_(kBlockSize),
      output_(kMaxEncodedBlock),
      record_(kRecordOverhead + kBlockSize) {
    context_.startStream();
}

void StreamEncoder::deliver(OutputWindow& out) noexcept {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(held(), out.left()));
    if (n == 0) return;
    std::memcpy(out.data + out.pos, output_.data() + heldStart_, n);
    out.pos += n;
    heldStart_ += n;
}

void StreamEncoder::codeBlock(const std::uint8_t* src, std::uint32_t len, OutputWindow& out) {
    // With room for a largest block the block step never runs short, and
    // its block does not depend on how much more room there is.
    if (held() == 0 && out.left() >= kMaxEncodedBlock) {
        out.pos += context_.encodeNextBlock(variant_, src, len, out.data + out.pos,
                                            kMaxEncodedBlock, record_.data());
        return;
    }
    heldStart_ = 0;
    heldEnd_ = context_.encodeNextBlock(variant_, src, len, output_.data(), kMaxEncodedBlock,
                                        record_.data());
}

std::size_t StreamEncoder::encode(OutputWindow& out, InputWindow& in, Directive directive) {
    for (;;) {
        deliver(out);
        if (held() != 0 || ended_) break;
        if (gathered_ == 0 && in.left() >= kBlockSize) {
            codeBlock(in.data + in.pos, kBlockSize, out);
            in.pos += kBlockSize;
            continue;
        }
        const auto taken =
            static_cast<std::uint32_t>(std::min<std::size_t>(kBlockSize - gathered_, in.left()));
        if (taken != 0) std::memcpy(input_.data() + gathered_, in.data + in.pos, taken);
        in.pos += taken;
        gathered_ += taken;
        // A full block is coded at once; a partial one waits for more input
        // unless the caller closes it.
        if (gathered_ == kBlockSize || (gathered_ != 0 && directive != Directive::proceed)) {
            codeBlock(input_.data(), gathered_, out);
            gathered_ = 0;
            continue;
        }
        if (directive == Directive::end) {
            context_.endStream();
            ended_ = true;
        }
        break;
    }
    if (directive == Directive::end && !ended_) return std::max<std::size_t>(held(), 1);
    return held();
}

}  // namespace tavrine
