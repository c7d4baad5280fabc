// The decode loop: checks every block header against the stream, the output
// capacity and the record buffer before it touches the payload, restores the
// record (range decoding and inverse move-to-front in one pass, or inverse
// move-to-front alone for an uncoded payload), checks the primary index, and
// only then writes the block's bytes into the caller's buffer. Any bytes at
// all are safe to pass: nothing is read past srcLen or written past the capacity.
#include <algorithm>
#include <array>

#include "stream/codec_context.h"
#include "stream/progress.h"
#include "stream/record_coding.h"
#include "stream/stream_format.h"
#include "transform/block_sort.h"

namespace tavrine {

namespace {

// The record buffer takes blocks far larger than the encoder writes (8192
// bytes), as far as the 16-bit header fields and this buffer allow.
constexpr std::uint32_t kDecodeRecordCapacity = 32776;
constexpr std::uint32_t kMaxDecodedBlock = kDecodeRecordCapacity - kRecordOverhead;
static_assert(kMaxDecodedBlock <= kMaxBlockLength);

// Progress is reported at most once per this many stream bytes.
constexpr std::uint32_t kReportInterval = 8192;

std::uint32_t saturatingAdd(std::uint32_t a, std::uint32_t b) {
    return a > UINT32_MAX - b ? UINT32_MAX : a + b;
}

}  // namespace

int CodecContext::decodeLoop(const DecodeCall& call) {
    coder_.initModel();
    moveToFront_.reset();

    std::array<std::uint8_t, kDecodeRecordCapacity> record;
    std::uint32_t consumed = 0;
    std::uint32_t produced = 0;
    std::uint32_t threshold = 0;
    while (consumed < call.srcLen) {
        if (call.callback != nullptr && consumed >= threshold) {
            if (!reportProgress(call.callback, call.user, consumed, call.srcLen)) return 0;
            threshold = saturatingAdd(consumed, kReportInterval);
        }
        const std::uint32_t left = call.srcLen - consumed;
        if (left <= kBlockHeaderSize) return 0;

        const BlockHeader header = readBlockHeader(call.src + consumed);
        const std::uint32_t len = header.decodedLength;
        const std::uint32_t n = len + kRecordOverhead;
        if (header.size > left) return 0;
        if (len > call.capacity - produced) return 0;
        if (header.size <= kBlockHeaderSize) return 0;
        if (len == 0) return 0;
        if (len > kMaxDecodedBlock) return 0;  // the record would not fit its buffer

        const std::uint8_t* payload = call.src + consumed + kBlockHeaderSize;
        const std::uint32_t payloadLength = header.size - kBlockHeaderSize;
        if (payloadLength == n) {
            moveToFront_.MoveToFrontDecode(record.data(), payload, static_cast<std::int32_t>(n));
            coder_.initModel();
        } else {
            std::uint32_t count = 0;
            // More symbols than the record holds: the blocks before this one
            // stand decoded, and the loop ends as if the stream ended here.
            if (!decodeRecord(moveToFront_, coder_, payload, payloadLength, record.data(), n,
                              count))
                break;
            if (count != n) return 0;
        }

        // The inverse sort starts its walk at the primary index's row.
        const std::uint32_t primaryIndex = readLittleEndian16(record.data());
        if (primaryIndex >= len) return 0;
        InverseBlockSort(call.dst + produced, record.data(), n, inverseSortTable(len));
        consumed += header.size;
        produced += len;
    }

    coder_.releaseModel();
    *call.dstLen = produced;
    if (!reportProgress(call.callback, call.user, consumed, call.srcLen)) return 0;
    return consumed == call.srcLen ? 1 : 0;
}

}  // namespace tavrine
