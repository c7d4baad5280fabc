// The one-shot calls with statuses: the same block loops as ZOLT_Encode and
// ZOLT_Decode, with size_t lengths, and every outcome told apart.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "api/api_call.h"
#include "stream/progress.h"
#include "stream/stream_format.h"

namespace {

using tavrine::CallOutcome;
using tavrine::CallStatus;

// The block loops count in 32 bits.
constexpr std::size_t kLargestCall = std::numeric_limits<std::uint32_t>::max();

// A capacity beyond 32 bits is more than any call can fill; a block that
// still does not fit it makes an output the loops cannot count.
std::uint32_t clampCapacity(std::size_t capacity) noexcept {
    return static_cast<std::uint32_t>(std::min(capacity, kLargestCall));
}

tavrine_status outcomeStatus(const CallOutcome& outcome, std::size_t capacity) noexcept {
    if (outcome.status == CallStatus::outputTooSmall && capacity > kLargestCall) {
        return TAVRINE_TOO_LARGE;
    }
    return tavrine::api::toStatus(outcome.status);
}

}  // namespace

extern "C" {

TAVRINE_ENTRY uint64_t tavrine_encode_bound(uint64_t src_len) noexcept {
    const std::uint64_t blocks = src_len / tavrine::kBlockSize + (src_len % tavrine::kBlockSize != 0);
    return (blocks + 1) * tavrine::kMaxEncodedBlock;
}

TAVRINE_ENTRY tavrine_status tavrine_encode(uint32_t variant, const void* src, size_t src_len,
                                            void* dst, size_t dst_capacity, size_t* dst_len,
                                            ZOLT_ProgressCallback progress, void* user) noexcept {
    if (dst_len == nullptr) return TAVRINE_BAD_ARGUMENT;
    *dst_len = 0;
    if (ZOLT_IsSupportedEncodeType(TAVRINE_STREAM_TYPE, variant) == 0) return TAVRINE_BAD_ARGUMENT;
    if (src_len > kLargestCall) return TAVRINE_TOO_LARGE;
    if (src_len == 0) return TAVRINE_OK;
    if (src == nullptr || dst == nullptr) return TAVRINE_BAD_ARGUMENT;
    return tavrine::api::guardedCall([&] {
        const auto srcLen = static_cast<std::uint32_t>(src_len);
        const tavrine::EncodeCall call{variant,
                                       static_cast<std::uint8_t*>(dst),
                                       static_cast<const std::uint8_t*>(src),
                                       clampCapacity(dst_capacity),
                                       srcLen,
                                       nullptr,
                                       progress,
                                       user};
        tavrine::CodecContext context;
        const CallOutcome outcome = context.runEncode(call);
        *dst_len = outcome.produced;
        if (outcome.reachedEnd &&
            !tavrine::reportProgress(progress, user, outcome.consumed, srcLen)) {
            return TAVRINE_ABORTED;
        }
        return outcomeStatus(outcome, dst_capacity);
    });
}

TAVRINE_ENTRY tavrine_status tavrine_decoded_length(const void* src, size_t src_len,
                                                    uint64_t* decoded_len,
                                                    uint64_t* fault_offset) noexcept {
    if (decoded_len == nullptr) return TAVRINE_BAD_ARGUMENT;
    *decoded_len = 0;
    if (src_len == 0) return TAVRINE_OK;
    if (src == nullptr) return TAVRINE_BAD_ARGUMENT;
    // The decoder's header checks, in its order, without the payloads.
    const auto* stream = static_cast<const std::uint8_t*>(src);
    std::size_t offset = 0;
    const auto fail = [&](tavrine_status status) {
        if (fault_offset != nullptr) *fault_offset = offset;
        return status;
    };
    while (offset < src_len) {
        const std::size_t left = src_len - offset;
        if (left < tavrine::kBlockHeaderSize) return fail(TAVRINE_TRUNCATED);
        const tavrine::BlockHeader header = tavrine::readBlockHeader(stream + offset);
        if (!tavrine::headerIsPlausible(header)) return fail(TAVRINE_CORRUPT);
        if (header.size > left) return fail(TAVRINE_TRUNCATED);
        *decoded_len += header.decodedLength;
        offset += header.size;
    }
    return TAVRINE_OK;
}

TAVRINE_ENTRY tavrine_status tavrine_decode(const void* src, size_t src_len, void* dst,
                                            size_t dst_capacity, size_t* dst_len,
                                            uint64_t* fault_offset, ZOLT_ProgressCallback progress,
                                            void* user) noexcept {
    if (dst_len == nullptr) return TAVRINE_BAD_ARGUMENT;
    *dst_len = 0;
    if (src_len > kLargestCall) return TAVRINE_TOO_LARGE;
    if (src_len == 0) return TAVRINE_OK;
    // No output buffer is needed where there is no room: the first block
    // then does not fit.
    if (src == nullptr || (dst == nullptr && dst_capacity != 0)) return TAVRINE_BAD_ARGUMENT;
    return tavrine::api::guardedCall([&] {
        const auto srcLen = static_cast<std::uint32_t>(src_len);
        const tavrine::DecodeCall call{static_cast<std::uint8_t*>(dst),
                                       static_cast<const std::uint8_t*>(src),
                                       clampCapacity(dst_capacity),
                                       srcLen,
                                       nullptr,
                                       progress,
                                       user};
        tavrine::CodecContext context;
        const CallOutcome outcome = context.runDecode(call);
        *dst_len = outcome.produced;
        const tavrine_status status = outcomeStatus(outcome, dst_capacity);
        if (fault_offset != nullptr && status != TAVRINE_OK && status != TAVRINE_ABORTED) {
            *fault_offset = outcome.consumed;
        }
        // The final report comes also after a block that overran its record,
        // as ZOLT_Decode makes it; the fault is the status that counts then.
        if (outcome.reachedEnd &&
            !tavrine::reportProgress(progress, user, outcome.consumed, srcLen) &&
            status == TAVRINE_OK) {
            return TAVRINE_ABORTED;
        }
        return status;
    });
}

}  // extern "C"
