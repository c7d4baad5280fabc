// The encode loop: cuts the source into blocks of 8192 bytes, sorts and
// move-to-front codes each one (inside the range coder's pass for variant 5),
// and stores it range coded when that is shorter, uncoded otherwise. The move-to-front table runs
// on through the whole call; the model runs on through coded blocks and starts afresh after every
// uncoded one, exactly as the decoder will.
#include <algorithm>
#include <array>
#include <cstring>

#include "stream/codec_context.h"
#include "stream/progress.h"
#include "stream/record_coding.h"
#include "stream/stream_format.h"
#include "transform/block_sort.h"

namespace tavrine {

static_assert(kRecordOverhead == kPrimaryIndexBytes);

namespace {

struct Payload {
    std::uint32_t length;
    bool coded;  // already in place behind the header; otherwise the record is copied there
};

}  // namespace

int CodecContext::encodeLoop(const EncodeCall& call) {
    moveToFront_.reset();
    coder_.initModel();

    std::array<std::uint8_t, kRecordOverhead + kBlockSize> record;
    std::uint32_t consumed = 0;
    std::uint32_t produced = 0;
    while (consumed < call.srcLen) {
        if (!reportProgress(call.callback, call.user, consumed, call.srcLen)) return 0;
        const std::uint32_t remaining = call.capacity - produced;
        if (remaining <= kBlockHeaderSize) return 0;

        const std::uint32_t len = std::min(call.srcLen - consumed, kBlockSize);
        const std::uint32_t n = len + kRecordOverhead;
        ForwardBlockSort(record.data(), call.src + consumed, len);

        std::uint8_t* block = call.dst + produced;
        Payload payload{n, false};
        if (call.variant == kVariantRangeCoded) {
            // Move-to-front runs inside the coder's pass and leaves the record
            // rewritten, ready to be stored uncoded instead. When the record
            // fits, only a payload shorter than it counts, and the coder stops
            // once it cannot be; otherwise the payload is cut at the capacity.
            const std::uint32_t capacity = remaining - kBlockHeaderSize;
            const std::uint32_t codedLength =
                capacity >= n ? encodeRecordIfShorter(moveToFront_, coder_, record.data(), n,
                                                      block + kBlockHeaderSize)
                              : encodeRecord(moveToFront_, coder_, record.data(), n,
                                             block + kBlockHeaderSize, capacity);
            // A payload cut short at the capacity cannot be decoded: it counts as
            // not shorter, and then the uncoded record does not fit either.
            if (codedLength <= capacity && codedLength < n) {
                payload = {codedLength, true};
            } else {
                coder_.initModel();
            }
        } else {
            moveToFront_.MoveToFrontEncode(record.data(), record.data(),
                                           static_cast<std::int32_t>(n));
        }

        const std::uint32_t size = payload.length + kBlockHeaderSize;
        if (size > kMaxBlockField || size > remaining) return 0;
        if (!payload.coded) std::memcpy(block + kBlockHeaderSize, record.data(), n);
        writeBlockHeader(block, {size, len});
        produced += size;
        consumed += len;
    }

    coder_.releaseModel();
    *call.dstLen = produced;
    return reportProgress(call.callback, call.user, consumed, call.srcLen) ? 1 : 0;
}

}  // namespace tavrine
