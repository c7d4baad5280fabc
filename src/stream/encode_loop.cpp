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

void CodecContext::startStream() {
    moveToFront_.reset();
    cursorHint_ = {};
    coder_.initModel();
}

std::uint32_t CodecContext::encodeNextBlock(std::uint32_t variant, const std::uint8_t* src,
                                            std::uint32_t len, std::uint8_t* block,
                                            std::uint32_t room, std::uint8_t* record) {
    ForwardBlockSort(record, src, len);
    return encodeSortedBlock(variant, len, block, room, record);
}

std::uint32_t CodecContext::encodeSortedBlock(std::uint32_t variant, std::uint32_t len,
                                              std::uint8_t* block, std::uint32_t room,
                                              std::uint8_t* record) {
    const std::uint32_t n = len + kRecordOverhead;
    Payload payload{n, false};
    if (variant == kVariantRangeCoded) {
        // Move-to-front runs inside the coder's pass and leaves the record
        // rewritten, ready to be stored uncoded instead. When the record
        // fits, only a payload shorter than it counts, and the coder stops
        // once it cannot be; otherwise the payload is cut at the capacity.
        const std::uint32_t capacity = room - kBlockHeaderSize;
        const std::uint32_t codedLength =
            capacity >= n ? encodeRecordIfShorter(moveToFront_, coder_, record, n,
                                                  block + kBlockHeaderSize, cursorHint_)
                          : encodeRecord(moveToFront_, coder_, record, n,
                                         block + kBlockHeaderSize, capacity);
        // A payload cut short at the capacity cannot be decoded: it counts as
        // not shorter, and then the uncoded record does not fit either.
        if (codedLength <= capacity && codedLength < n) {
            payload = {codedLength, true};
        } else {
            coder_.initModel();
        }
    } else {
        moveToFront_.MoveToFrontEncode(record, record, static_cast<std::int32_t>(n));
    }

    const std::uint32_t size = payload.length + kBlockHeaderSize;
    if (size > kMaxBlockField || size > room) return 0;
    if (!payload.coded) std::memcpy(block + kBlockHeaderSize, record, n);
    writeBlockHeader(block, {size, len});
    return size;
}

CallOutcome CodecContext::runEncode(const EncodeCall& call) {
    startStream();

    std::array<std::uint8_t, kRecordOverhead + kBlockSize> record;
    CallOutcome outcome;
    while (outcome.consumed < call.srcLen) {
        if (!reportProgress(call.callback, call.user, outcome.consumed, call.srcLen)) {
            outcome.status = CallStatus::aborted;
            return outcome;
        }
        const std::uint32_t remaining = call.capacity - outcome.produced;
        const std::uint32_t len = std::min(call.srcLen - outcome.consumed, kBlockSize);
        const std::uint32_t size =
            remaining <= kBlockHeaderSize
                ? 0
                : encodeNextBlock(call.variant, call.src + outcome.consumed, len,
                                  call.dst + outcome.produced, remaining, record.data());
        if (size == 0) {
            outcome.status = CallStatus::outputTooSmall;
            return outcome;
        }
        outcome.produced += size;
        outcome.consumed += len;
    }

    endStream();
    outcome.reachedEnd = true;
    return outcome;
}

int CodecContext::encodeLoop(const EncodeCall& call) {
    const CallOutcome outcome = runEncode(call);
    if (!outcome.reachedEnd) return 0;
    *call.dstLen = outcome.produced;
    return reportProgress(call.callback, call.user, outcome.consumed, call.srcLen) ? 1 : 0;
}

}  // namespace tavrine
