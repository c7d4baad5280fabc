#include "container/segment_codec.h"

#include <algorithm>
#include <limits>

#include "stream/codec_context.h"
#include "stream/stream_format.h"
#include "tavrine.h"

namespace tavrine::container {
namespace {

constexpr std::size_t kMaxStreamInput = std::numeric_limits<std::uint32_t>::max();

// Room for one more largest block than the input needs, as
// ZOLT_GetMaximumEncodedLength gives it, for a segment's input.
std::size_t encodeCapacity(std::size_t inputSize) noexcept {
    const std::size_t blocks = inputSize / kBlockSize + (inputSize % kBlockSize != 0 ? 1 : 0);
    return (blocks + 1) * kMaxEncodedBlock;
}

}  // namespace

std::vector<std::uint8_t> encodeStream(std::uint32_t variant, std::span<const std::uint8_t> input) {
    if (input.empty()) return {};
    std::vector<std::uint8_t> stream(encodeCapacity(input.size()));
    const EncodeCall call{variant,
                          stream.data(),
                          input.data(),
                          static_cast<std::uint32_t>(std::min(stream.size(), kMaxStreamInput)),
                          static_cast<std::uint32_t>(input.size()),
                          nullptr,
                          nullptr,
                          nullptr};
    CodecContext context;
    const CallOutcome outcome = context.runEncode(call);
    // With the capacity of the largest stream, only exhausted memory stops
    // the loop, and that is thrown.
    stream.resize(outcome.produced);
    stream.shrink_to_fit();
    return stream;
}

bool decodeStream(std::span<const std::uint8_t> stream, std::span<std::uint8_t> output) {
    if (stream.size() > kMaxStreamInput || output.size() > kMaxStreamInput) return false;
    if (stream.empty()) return output.empty();
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
