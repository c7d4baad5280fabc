#include "segment_codec.h"

#include "tvr_format.h"

namespace tavrine::tool {
namespace {

constexpr std::size_t kBlockHeaderSize = 4;
constexpr std::uint32_t kRecordOverhead = 2;  // the primary index in front of the block's bytes
// ZOLT_GetMaximumEncodedLength computes in 32 bits and is exact up to this
// input size; above it the bound wraps.
constexpr std::uint32_t kLargestExactBound = 4291813376u;

std::uint32_t encodeCapacity(std::uint32_t variant, std::uint32_t inputSize) {
    std::uint32_t bound = 0;
    if (ZOLT_GetMaximumEncodedLength(kStreamType, variant, inputSize, &bound) == 0) {
        throw CodecError("variant " + std::to_string(variant) + " is not supported");
    }
    // The largest capacity a 32-bit length can state; a stream that needs more
    // cannot be written at all.
    return inputSize <= kLargestExactBound ? bound : 0xFFFFFFFFu;
}

}  // namespace

std::vector<std::uint8_t> encodeStream(std::uint32_t variant, std::span<const std::uint8_t> input,
                                       ZOLT_ProgressCallback callback, void* user) {
    if (input.size() > kMaxStreamInput) {
        throw CodecError("input larger than 4 GiB - 1 bytes cannot form one stream");
    }
    const auto inputSize = static_cast<std::uint32_t>(input.size());
    std::vector<std::uint8_t> stream(encodeCapacity(variant, inputSize));
    std::uint32_t length = static_cast<std::uint32_t>(stream.size());
    if (ZOLT_Encode(kStreamType, variant, input.data(), inputSize, stream.data(), &length, callback,
                    user) == 0) {
        throw CodecError("the codec could not encode the data (out of memory, interrupted, or "
                         "its stream would exceed 4 GiB - 1 bytes)");
    }
    stream.resize(length);
    stream.shrink_to_fit();
    return stream;
}

bool decodeStream(std::span<const std::uint8_t> stream, std::span<std::uint8_t> output,
                  ZOLT_ProgressCallback callback, void* user) noexcept {
    if (stream.size() > kMaxStreamInput || output.size() > kMaxStreamInput) return false;
    std::uint32_t length = static_cast<std::uint32_t>(output.size());
    // ZOLT_Decode refuses a null destination even when nothing is to be written.
    std::uint8_t empty = 0;
    void* destination = output.empty() ? &empty : output.data();
    return ZOLT_Decode(kStreamType, stream.data(), static_cast<std::uint32_t>(stream.size()),
                       destination, &length, callback, user) != 0 &&
           length == output.size();
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
        const std::uint32_t size = stream[0] | (std::uint32_t{stream[1]} << 8);
        const std::uint32_t decoded = stream[2] | (std::uint32_t{stream[3]} << 8);
        if (size <= kBlockHeaderSize || size > stream.size()) return std::nullopt;
        if (size - kBlockHeaderSize == decoded + kRecordOverhead) {
            ++counts.uncoded;
        } else {
            ++counts.coded;
        }
        stream = stream.subspan(size);
    }
    return counts;
}

}  // namespace tavrine::tool
