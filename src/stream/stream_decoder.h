// The decoder for a stream that arrives in pieces: it gathers each block
// until it is complete and decodes it with the decode loop's own block step,
// so that it accepts exactly the streams the one-shot decoder accepts, gives
// the same bytes and refuses the others at the same block. A header that no
// encoder writes is refused as soon as its four bytes are in. A block is
// decoded straight from the caller's input and into the caller's output
// whenever they hold all of it; otherwise it passes through buffers of one
// block each.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/heap.h"
#include "stream/codec_context.h"
#include "stream/stream_encoder.h"

namespace tavrine {

class StreamDecoder {
public:
    // Obtains the buffers and starts the stream; throws std::bad_alloc.
    StreamDecoder();

    // Takes stream bytes and writes decoded bytes as far as the windows
    // allow; *held receives the decoded bytes held back for out. With
    // Directive::end the input ends with this window. Returns ok, corrupt or
    // truncated; a failure stays. Throws std::bad_alloc; the decoder is then
    // unusable.
    CallStatus decode(OutputWindow& out, InputWindow& in, Directive directive, std::size_t& held);

    // Stream offset of the block being gathered, or of the block at fault.
    std::uint64_t blockOffset() const noexcept { return blockOffset_; }

private:
    // Decodes a complete block into out when it fits there and nothing is
    // held back, else into the held output. False when the block is corrupt.
    bool decodeBlock(BlockHeader header, const std::uint8_t* payload, OutputWindow& out);
    void deliver(OutputWindow& out) noexcept;
    std::size_t held() const noexcept { return heldEnd_ - heldStart_; }
    CallStatus fail(CallStatus status) noexcept { return failure_ = status; }

    CodecContext context_;
    platform::HeapArray<std::uint8_t> block_;   // the block being gathered, header included
    platform::HeapArray<std::uint8_t> output_;  // one block of decoded bytes
    platform::HeapArray<std::uint8_t> record_;
    std::uint32_t gathered_ = 0;  // bytes of the current block in block_
    std::uint32_t heldStart_ = 0;
    std::uint32_t heldEnd_ = 0;
    std::uint64_t blockOffset_ = 0;
    CallStatus failure_ = CallStatus::ok;
};

}  // namespace tavrine
