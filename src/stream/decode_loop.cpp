// The decode loop: checks every block header against the stream, the output
// capacity and the record buffer before it touches the payload, restores the
// record (range decoding and inverse move-to-front in one pass, or inverse
// move-to-front alone for an uncoded payload), checks the primary index, and
// only then writes the block's bytes into the caller's buffer. Any bytes at
// all are safe to pass: nothing is read past srcLen or written past the capacity.
#include <algorithm>
#include <array>
#include <cstring>

#include "stream/codec_context.h"
#include "stream/progress.h"
#include "stream/record_coding.h"
#include "stream/stream_format.h"
#include "transform/block_sort.h"

namespace tavrine {

namespace {

static_assert(kMaxDecodedBlock <= kMaxBlockLength);

// Progress is reported at most once per this many stream bytes.
constexpr std::uint32_t kReportInterval = 8192;

std::uint32_t saturatingAdd(std::uint32_t a, std::uint32_t b) {
    return a > UINT32_MAX - b ? UINT32_MAX : a + b;
}

// Whether a block's walk is best run at once: when no block follows, or only
// a last one too short to hide it. Stepped beside the next block's decoding,
// a walk costs its table's preparation, about half of what the inverse sort's
// two-way walk costs, and its steps past the next block's end run alone at
// about the two-way walk's whole cost per byte; the two balance where the
// next block is about half as long. `next` points past this block.
bool walksBestAtOnce(const std::uint8_t* next, std::uint32_t left, std::uint32_t decodedLength) {
    if (left == 0) return true;
    if (left < kBlockHeaderSize) return false;
    const BlockHeader following = readBlockHeader(next);
    return following.size == left && following.decodedLength < decodedLength / 2;
}

// A restored record is whole when it holds all n bytes, and the inverse sort
// starts its walk at the primary index's row, which must lie inside the block.
BlockVerdict checkRestoredRecord(const std::uint8_t* record, std::uint32_t count,
                                 std::uint32_t len) {
    if (count != len + kRecordOverhead) return BlockVerdict::corrupt;
    if (readLittleEndian16(record) >= len) return BlockVerdict::corrupt;
    return BlockVerdict::decoded;
}

}  // namespace

// An uncoded record is not counted on its way in, so it takes the plain
// inverse sort; a coded one is counted and ranked while it is decoded, and
// its inverse sort starts from these.
BlockVerdict CodecContext::decodeNextBlock(BlockHeader header, const std::uint8_t* payload,
                                           std::uint8_t* out, std::uint8_t* record) {
    const std::uint32_t len = header.decodedLength;
    const std::uint32_t n = len + kRecordOverhead;
    const std::uint32_t payloadLength = header.size - kBlockHeaderSize;
    if (payloadLength == n) {
        const BlockVerdict verdict = restoreNextRecord(header, payload, record);
        if (verdict != BlockVerdict::decoded) return verdict;
        InverseBlockSort(out, record, n, inverseSortTable(len));
        return BlockVerdict::decoded;
    }
    std::uint16_t* table = inverseSortTable(len);
    RecordByteCounts counts;
    std::uint32_t count = 0;
    if (!decodeRecordRanked(moveToFront_, coder_, payload, payloadLength, record, n, count,
                            recordRankSlots(table, len), counts)) {
        return BlockVerdict::overrun;
    }
    const BlockVerdict verdict = checkRestoredRecord(record, count, len);
    if (verdict != BlockVerdict::decoded) return verdict;
    InverseBlockSortRanked(out, record, n, table, counts);
    return BlockVerdict::decoded;
}

// The walk of the block before steps along while this one's record is
// decoded and finishes after it, before the walk table may be grown for this
// block. A walk left to run alone takes the inverse sort's own, two chains
// from both ends, rather than the prepared table's one chain.
BlockVerdict CodecContext::decodeBesideWalk(BlockHeader header, const std::uint8_t* payload,
                                            std::uint8_t* out, std::uint8_t* record,
                                            PendingBlock& pending, bool walkNow) {
    const std::uint32_t len = header.decodedLength;
    const std::uint32_t n = len + kRecordOverhead;
    const std::uint32_t payloadLength = header.size - kBlockHeaderSize;
    if (payloadLength == n) {
        pending.finish();
        return decodeNextBlock(header, payload, out, record);
    }
    std::uint16_t* table = inverseSortTable(len);
    std::uint16_t* ranks = recordRankSlots(table, len);
    RecordByteCounts counts;
    std::uint32_t count = 0;
    // The first block, or one after a stored block, has no walk to take along.
    const bool whole =
        pending.walk().remaining() == 0
            ? decodeRecordRanked(moveToFront_, coder_, payload, payloadLength, record, n, count,
                                 ranks, counts)
            : decodeRecordRankedWalking(moveToFront_, coder_, payload, payloadLength, record, n,
                                        count, ranks, counts, pending.walk());
    pending.finish();
    if (!whole) return BlockVerdict::overrun;
    const BlockVerdict verdict = checkRestoredRecord(record, count, len);
    if (verdict != BlockVerdict::decoded) return verdict;
    if (walkNow) {
        InverseBlockSortRanked(out, record, n, table, counts);
    } else {
        pending.walk() = PrepareBlockWalk(out, record, n, ranks, counts, blockWalkTable(len));
    }
    return BlockVerdict::decoded;
}

BlockVerdict CodecContext::restoreNextRecord(BlockHeader header, const std::uint8_t* payload,
                                             std::uint8_t* record) {
    const std::uint32_t len = header.decodedLength;
    const std::uint32_t n = len + kRecordOverhead;
    const std::uint32_t payloadLength = header.size - kBlockHeaderSize;
    std::uint32_t count = n;
    if (payloadLength == n) {
        moveToFront_.MoveToFrontDecode(record, payload, static_cast<std::int32_t>(n));
        coder_.initModel();
    } else if (!decodeRecord(moveToFront_, coder_, payload, payloadLength, record, n, count)) {
        return BlockVerdict::overrun;
    }
    return checkRestoredRecord(record, count, len);
}

BlockVerdict CodecContext::decodeNextPositions(BlockHeader header, const std::uint8_t* payload,
                                               std::uint8_t* positions) {
    const std::uint32_t len = header.decodedLength;
    const std::uint32_t n = len + kRecordOverhead;
    const std::uint32_t payloadLength = header.size - kBlockHeaderSize;
    if (payloadLength == n) {
        std::memcpy(positions, payload, n);
        coder_.initModel();
        return BlockVerdict::decoded;
    }
    std::uint32_t count = 0;
    if (!decodePositions(coder_, payload, payloadLength, positions, n, count)) {
        return BlockVerdict::overrun;
    }
    return count == n ? BlockVerdict::decoded : BlockVerdict::corrupt;
}

BlockVerdict restoreFromPositions(MoveToFrontTable& table, std::uint8_t* record,
                                  std::uint32_t len) noexcept {
    const std::uint32_t n = len + kRecordOverhead;
    table.MoveToFrontDecode(record, record, static_cast<std::int32_t>(n));
    return checkRestoredRecord(record, n, len);
}

CallOutcome CodecContext::runDecode(const DecodeCall& call) {
    startStream();

    std::array<std::uint8_t, kDecodeRecordCapacity> record;
    // The bytes of the last block decoded, written while the next one decodes;
    // whichever way the call returns, they are written before it does.
    PendingBlock pending;
    CallOutcome outcome;
    const auto fail = [&outcome](CallStatus status) {
        outcome.status = status;
        return outcome;
    };
    std::uint32_t threshold = 0;
    while (outcome.consumed < call.srcLen) {
        const std::uint32_t consumed = outcome.consumed;
        if (call.callback != nullptr && consumed >= threshold) {
            if (!reportProgress(call.callback, call.user, consumed, call.srcLen)) {
                return fail(CallStatus::aborted);
            }
            threshold = saturatingAdd(consumed, kReportInterval);
        }
        // A header that no encoder writes is corrupt whether or not its
        // block is complete, as the streaming decoder finds it the moment
        // its four bytes are in; only then do the stream's end and the
        // capacity count. (A block needs more than its header, so four bytes
        // left fail either way.)
        const std::uint32_t left = call.srcLen - consumed;
        if (left < kBlockHeaderSize) return fail(CallStatus::truncated);
        const BlockHeader header = readBlockHeader(call.src + consumed);
        if (!headerIsPlausible(header)) return fail(CallStatus::corrupt);
        if (header.size > left) return fail(CallStatus::truncated);
        if (header.decodedLength > call.capacity - outcome.produced) {
            return fail(CallStatus::outputTooSmall);
        }

        const std::uint8_t* payload = call.src + consumed + kBlockHeaderSize;
        std::uint8_t* out = call.dst + outcome.produced;
        const bool walkNow = walksBestAtOnce(call.src + consumed + header.size,
                                             left - header.size, header.decodedLength);
        const BlockVerdict verdict =
            walkNow ? decodeNextBlockWalkedNow(header, payload, out, record.data(), pending)
                    : decodeNextBlockOverlapped(header, payload, out, record.data(), pending);
        if (verdict == BlockVerdict::corrupt) return fail(CallStatus::corrupt);
        if (verdict == BlockVerdict::overrun) {
            // The blocks before this one stand decoded, and the loop ends as
            // if the stream ended here.
            outcome.status = CallStatus::corrupt;
            break;
        }
        outcome.consumed += header.size;
        outcome.produced += header.decodedLength;
    }

    endStream();
    outcome.reachedEnd = true;
    return outcome;
}

int CodecContext::decodeLoop(const DecodeCall& call) {
    const CallOutcome outcome = runDecode(call);
    if (!outcome.reachedEnd) return 0;
    *call.dstLen = outcome.produced;
    if (!reportProgress(call.callback, call.user, outcome.consumed, call.srcLen)) return 0;
    return outcome.status == CallStatus::ok ? 1 : 0;
}

}  // namespace tavrine
