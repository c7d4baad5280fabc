#include "container/segment_codec.h"

#include <algorithm>
#include <limits>

#include "stream/codec_context.h"
#include "stream/stream_decoder.h"
#include "stream/stream_encoder.h"
#include "stream/stream_format.h"
#include "tavrine.h"

namespace tavrine::container {
namespace {

constexpr std::size_t kMaxStreamInput = std::numeric_limits<std::uint32_t>::max();

// The streaming coders with worker threads, over whole buffers: the input
// in one window, room for all of the output in the other.
std::size_t encodeOnThreads(std::uint32_t variant, std::span<const std::uint8_t> input,
                            std::span<std::uint8_t> output, unsigned threads) {
    StreamEncoder encoder(variant);
    encoder.setThreads(threads);
    InputWindow in{input.data(), input.size(), 0};
    OutputWindow out{output.data(), output.size(), 0};
    // With room for the largest stream, one call takes all and ends.
    encoder.encode(out, in, Directive::end);
    return out.pos;
}

bool decodeOnThreads(std::span<const std::uint8_t> stream, std::span<std::uint8_t> output,
                     unsigned threads) {
    StreamDecoder decoder;
    decoder.setThreads(threads);
    InputWindow in{stream.data(), stream.size(), 0};
    OutputWindow out{output.data(), output.size(), 0};
    std::size_t held = 0;
    const CallStatus status = decoder.decode(out, in, Directive::end, held);
    return status == CallStatus::ok && held == 0 && in.left() == 0 && out.left() == 0;
}

}  // namespace

std::size_t largestStreamSize(std::size_t inputSize) noexcept {
    const std::size_t blocks = inputSize / kBlockSize + (inputSize % kBlockSize != 0 ? 1 : 0);
    return (blocks + 1) * kMaxEncodedBlock;
}

std::vector<std::uint8_t> encodeStream(std::uint32_t variant, std::span<const std::uint8_t> input) {
    std::vector<std::uint8_t> stream(largestStreamSize(input.size()));
    stream.resize(encodeStreamInto(variant, input, stream));
    stream.shrink_to_fit();
    return stream;
}

std::size_t encodeStreamInto(std::uint32_t variant, std::span<const std::uint8_t> input,
                             std::span<std::uint8_t> output, unsigned threads) {
    if (input.empty()) return 0;
    if (threads >= 2) return encodeOnThreads(variant, input, output, threads);
    const EncodeCall call{variant,
                          output.data(),
                          input.data(),
                          static_cast<std::uint32_t>(std::min(output.size(), kMaxStreamInput)),
                          static_cast<std::uint32_t>(input.size()),
                          nullptr,
                          nullptr,
                          nullptr};
    CodecContext context;
    // With the capacity of the largest stream, only exhausted memory stops
    // the loop, and that is thrown.
    return context.runEncode(call).produced;
}

bool decodeStream(std::span<const std::uint8_t> stream, std::span<std::uint8_t> output,
                  unsigned threads) {
    if (stream.size() > kMaxStreamInput || output.size() > kMaxStreamInput) return false;
    if (stream.empty()) return output.empty();
    if (threads >= 2) return decodeOnThreads(stream, output, threads);
    const DecodeCall call{output.data(),
                          stream.data(),
                          static_cast<std::uint32_t>(output.size()),
                          static_cast<std::uint32_t>(stream.size()),
                          nullptr,
                          nullptr,
                          nullptr};
    CodecContext context;
    const CallOutcome outcome = context.runDecode(call);
    return outcome.status == CallStatus::ok && outcome.produced == output.size();
}

std::optional<std::uint32_t> announcedLength(std::span<const std::uint8_t> stream) noexcept {
    if (stream.size() > kMaxStreamInput) return std::nullopt;
    std::uint32_t length = 0;
    if (ZOLT_GetDecodedLength(kStreamType, stream.data(), static_cast<std::uint32_t>(stream.size()),
                              &length) == 0) {
        return std::nullopt;
    }
    return length;
}

std::optional<BlockCounts> countBlocks(std::span<const std::uint8_t> stream) noexcept {
    BlockCounts counts;
    while (!stream.empty()) {
        if (stream.size() <= kBlockHeaderSize) return std::nullopt;
        const BlockHeader header = readBlockHeader(stream.data());
        if (header.size <= kBlockHeaderSize || header.size > stream.size()) return std::nullopt;
        if (header.size - kBlockHeaderSize == header.decodedLength + kRecordOverhead) {
            ++counts.uncoded;
        } else {
            ++counts.coded;
        }
        stream = stream.subspan(header.size);
    }
    return counts;
}

}  // namespace tavrine::container
