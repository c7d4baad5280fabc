#include "stream/record_coding.h"

#include <algorithm>

#include "platform/target.h"
#if TAVRINE_X86_SSSE3_DISPATCH
#include "platform/x86/cpu_features.h"
#endif

namespace tavrine {

std::uint32_t encodeRecord(MoveToFrontTable& table, RangeCoder& coder, std::uint8_t* record,
                           std::uint32_t n, std::uint8_t* out, std::uint32_t outCap) noexcept {
    RangeEncoder encoder = coder.beginEncode(out, outCap);
    MoveToFrontCursor cursor(table);
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t position = cursor.encodeByte(record[i]);
        record[i] = static_cast<std::uint8_t>(position);
        encoder.encode(position);
    }
    std::uint32_t written = 0;
    coder.endEncode(encoder, written);
    return coder.codedLength();
}

namespace {

// encodeRecordIfShorter with the given cursor; always inlined, so that a
// caller compiled for more of the processor's instructions compiles the
// loop so too.
template <typename Cursor>
TAVRINE_ALWAYS_INLINE std::uint32_t encodeIfShorterWith(MoveToFrontTable& table,
                                                        RangeCoder& coder, std::uint8_t* record,
                                                        std::uint32_t n,
                                                        std::uint8_t* out) noexcept {
    LimitedRangeEncoder encoder = coder.beginLimitedEncode(out, n);
    Cursor cursor(table);
    std::uint8_t* const end = record + n;
    std::uint8_t* at = record;
    for (; at != end && !encoder.cannotBeShorter(); ++at) {
        const std::uint32_t position = cursor.encodeByte(*at);
        *at = static_cast<std::uint8_t>(position);
        encoder.encode(position);
    }
    if (at == end && !encoder.cannotBeShorter()) return encoder.finish();
    // The record is stored: move-to-front runs on through the rest of it.
    encoder.abandon();
    for (; at != end; ++at) *at = static_cast<std::uint8_t>(cursor.encodeByte(*at));
    return n;
}

#if TAVRINE_X86_SSE41_DISPATCH
// encodeRecordIfShorter on processors with SSE4.1.
TAVRINE_TARGET_SSE41 TAVRINE_NOINLINE std::uint32_t encodeIfShorterWithBlends(
    MoveToFrontTable& table, RangeCoder& coder, std::uint8_t* record, std::uint32_t n,
    std::uint8_t* out) noexcept {
    return encodeIfShorterWith<BlendFrontCursor>(table, coder, record, n, out);
}
#endif

#if TAVRINE_X86_AVX2_DISPATCH
// encodeRecordIfShorter on processors with AVX2: the front cursor, or the
// position-table cursor after a record with most positions behind the front
// (high-entropy data has nine in ten there, text one in twenty).
TAVRINE_TARGET_AVX2 TAVRINE_NOINLINE std::uint32_t encodeIfShorterWithTableShifts(
    MoveToFrontTable& table, RangeCoder& coder, std::uint8_t* record, std::uint32_t n,
    std::uint8_t* out, EncodingCursorHint& hint) noexcept {
    const std::uint32_t length =
        hint.positionsSpread
            ? encodeIfShorterWith<PositionTableCursor>(table, coder, record, n, out)
            : encodeIfShorterWith<TableShiftBlendCursor>(table, coder, record, n, out);
    hint.positionsSpread = x86::avx2::countBehindFront(record, n) > n / 2;
    return length;
}
#endif

}  // namespace

// The encoder's hot loop, whose pace move-to-front's chain of vector steps
// helps set: on processors with SSE4.1 a shorter one, with AVX2 also
// branch-free steps behind the front (the same positions and table).
std::uint32_t encodeRecordIfShorter(MoveToFrontTable& table, RangeCoder& coder,
                                    std::uint8_t* record, std::uint32_t n, std::uint8_t* out,
                                    EncodingCursorHint& hint) noexcept {
#if TAVRINE_X86_AVX2_DISPATCH
    if (platform::hasAvx2()) {
        return encodeIfShorterWithTableShifts(table, coder, record, n, out, hint);
    }
#else
    static_cast<void>(hint);
#endif
#if TAVRINE_X86_SSE41_DISPATCH
    if (platform::hasSse41()) return encodeIfShorterWithBlends(table, coder, record, n, out);
#endif
    return encodeIfShorterWith<MoveToFrontCursor>(table, coder, record, n, out);
}

namespace {

// Where the decoding loop puts each byte: into the record alone, or also
// counted and ranked for the inverse sort, which takes a load, an increment
// and a store per byte beside a loop that waits on the range decoder anyway.
class RecordSink {
public:
    explicit RecordSink(std::uint8_t* record) noexcept : record_(record) {}
    void put(std::uint32_t at, std::uint8_t value) noexcept { record_[at] = value; }

private:
    std::uint8_t* record_;
};

class RankingSink {
public:
    RankingSink(std::uint8_t* record, std::uint16_t* ranks, RecordByteCounts& counts) noexcept
        : record_(record), ranks_(ranks), counts_(counts.data()) {
        counts.fill(0);
    }
    void put(std::uint32_t at, std::uint8_t value) noexcept {
        record_[at] = value;
        ranks_[at] = static_cast<std::uint16_t>(counts_[value]++);
    }

private:
    std::uint8_t* record_;
    std::uint16_t* ranks_;
    std::uint32_t* counts_;
};

// RankingSink that also writes a byte of the block before, by one step of
// its walk, for every byte it puts: the walk's chain of loads runs beside
// the decoder's chain instead of after it. Record byte `at` comes with walk
// step `at`, so the step needs no pointer of its own and no test for the
// walk's end: the loop stops the walk where its bytes run out (stopWalk),
// and its steps from there on write into the record, each into the slot
// that takes the record's own byte next. The walk is held by value, so that
// the loop keeps it in registers; walk() hands back the stopped walk.
class RankingWalkingSink {
public:
    RankingWalkingSink(std::uint8_t* record, std::uint16_t* ranks, RecordByteCounts& counts,
                       const BlockWalk& walk) noexcept
        : ranking_(record, ranks, counts), record_(record), walk_(walk), stopped_(walk) {}
    // The bytes the walk has left, up to `capacity`.
    std::uint32_t walkLimit(std::uint32_t capacity) const noexcept {
        return std::min(capacity, walk_.remaining());
    }
    void put(std::uint32_t at, std::uint8_t value) noexcept {
        walk_.stepAt(at);
        ranking_.put(at, value);
    }
    // Keeps the walk as it stands after `at` bytes, unless already kept.
    void stopWalk(std::uint32_t at) noexcept {
        if (isStopped_) return;
        stopped_ = walk_;
        stopped_.advance(at);
        walk_.retarget(record_);
        isStopped_ = true;
    }
    const BlockWalk& walk() const noexcept { return stopped_; }

private:
    RankingSink ranking_;
    std::uint8_t* record_;
    BlockWalk walk_;
    BlockWalk stopped_;
    bool isStopped_ = false;
};

// One loop for the whole payload; its only test of the input's end is inside
// decoder.normalize() (range_decoder.h). The symbols that decodeSymbol
// compares for take move-to-front's short step, on a branch that follows the
// decoder's own; the others its general one. Always inlined, so that a caller
// compiled for more of the processor's instructions compiles the loop so too.
template <typename Cursor, typename Sink>
TAVRINE_ALWAYS_INLINE bool decodeInto(MoveToFrontTable& table, RangeCoder& coder,
                                      const std::uint8_t* payload, std::uint32_t payloadLen,
                                      Sink& sink, std::uint32_t capacity,
                                      std::uint32_t& count) noexcept {
    static_assert(RangeDecoder::kComparedSymbols <= 16, "decodeInFront takes positions below 16");
    constexpr bool kWalking = requires(Sink s) { s.stopWalk(0); };
    RangeDecoder decoder = coder.beginDecode(payload, payloadLen);
    Cursor cursor(table);
    std::uint32_t written = 0;
    // Where the walk runs out, then the capacity: one test for both.
    std::uint32_t limit = capacity;
    if constexpr (kWalking) limit = sink.walkLimit(capacity);
    while (decoder.normalize()) {
        if (written == limit) [[unlikely]] {
            if constexpr (kWalking) {
                sink.stopWalk(written);
                limit = capacity;
            }
            if (written == capacity) {
                // Full: only the end-of-block symbol may still come.
                if (decoder.endOfBlockNext()) break;
                coder.abandonDecode(decoder);
                return false;
            }
        }
        // Runs of symbol 0 repeat the value in front and leave the table be.
        if (decoder.zeroDominates() && decoder.tryDecodeZero()) {
            sink.put(written++, cursor.front());
            continue;
        }
        const std::uint32_t symbol = decoder.decodeSymbol();
        if (symbol < RangeDecoder::kComparedSymbols) {
            sink.put(written++, cursor.decodeInFront(symbol));
            continue;
        }
        if (symbol == static_cast<std::uint32_t>(kEndOfBlock)) break;
        sink.put(written++, cursor.decodePosition(symbol));
    }
    if constexpr (kWalking) sink.stopWalk(written);
    coder.endDecode(decoder);
    count = written;
    return true;
}

// decodeRecordRanked and decodeRecordRankedWalking with the given cursor;
// always inlined, so that the callers compiled for more of the processor's
// instructions compile the loop so too.
template <typename Cursor>
TAVRINE_ALWAYS_INLINE bool decodeRankedWith(MoveToFrontTable& table, RangeCoder& coder,
                                            const std::uint8_t* payload, std::uint32_t payloadLen,
                                            std::uint8_t* record, std::uint32_t capacity,
                                            std::uint32_t& count, std::uint16_t* ranks,
                                            RecordByteCounts& counts) noexcept {
    RankingSink sink(record, ranks, counts);
    return decodeInto<Cursor>(table, coder, payload, payloadLen, sink, capacity, count);
}

template <typename Cursor>
TAVRINE_ALWAYS_INLINE bool decodeRankedWalkingWith(
    MoveToFrontTable& table, RangeCoder& coder, const std::uint8_t* payload,
    std::uint32_t payloadLen, std::uint8_t* record, std::uint32_t capacity, std::uint32_t& count,
    std::uint16_t* ranks, RecordByteCounts& counts, BlockWalk& walk) noexcept {
    RankingWalkingSink sink(record, ranks, counts, walk);
    const bool decoded =
        decodeInto<Cursor>(table, coder, payload, payloadLen, sink, capacity, count);
    walk = sink.walk();
    return decoded;
}

#if TAVRINE_X86_SSSE3_DISPATCH
// The two on processors with SSSE3.
TAVRINE_TARGET_SSSE3 TAVRINE_NOINLINE bool decodeRecordRankedWithShuffles(
    MoveToFrontTable& table, RangeCoder& coder, const std::uint8_t* payload,
    std::uint32_t payloadLen, std::uint8_t* record, std::uint32_t capacity, std::uint32_t& count,
    std::uint16_t* ranks, RecordByteCounts& counts) noexcept {
    return decodeRankedWith<ShuffleFrontCursor>(table, coder, payload, payloadLen, record,
                                                capacity, count, ranks, counts);
}

TAVRINE_TARGET_SSSE3 TAVRINE_NOINLINE bool decodeRecordRankedWalkingWithShuffles(
    MoveToFrontTable& table, RangeCoder& coder, const std::uint8_t* payload,
    std::uint32_t payloadLen, std::uint8_t* record, std::uint32_t capacity, std::uint32_t& count,
    std::uint16_t* ranks, RecordByteCounts& counts, BlockWalk& walk) noexcept {
    return decodeRankedWalkingWith<ShuffleFrontCursor>(table, coder, payload, payloadLen, record,
                                                       capacity, count, ranks, counts, walk);
}
#endif

#if TAVRINE_X86_AVX2_DISPATCH
// The two on processors with AVX2.
TAVRINE_TARGET_AVX2 TAVRINE_NOINLINE bool decodeRecordRankedWithTableShifts(
    MoveToFrontTable& table, RangeCoder& coder, const std::uint8_t* payload,
    std::uint32_t payloadLen, std::uint8_t* record, std::uint32_t capacity, std::uint32_t& count,
    std::uint16_t* ranks, RecordByteCounts& counts) noexcept {
    return decodeRankedWith<TableShiftShuffleCursor>(table, coder, payload, payloadLen, record,
                                                     capacity, count, ranks, counts);
}

TAVRINE_TARGET_AVX2 TAVRINE_NOINLINE bool decodeRecordRankedWalkingWithTableShifts(
    MoveToFrontTable& table, RangeCoder& coder, const std::uint8_t* payload,
    std::uint32_t payloadLen, std::uint8_t* record, std::uint32_t capacity, std::uint32_t& count,
    std::uint16_t* ranks, RecordByteCounts& counts, BlockWalk& walk) noexcept {
    return decodeRankedWalkingWith<TableShiftShuffleCursor>(
        table, coder, payload, payloadLen, record, capacity, count, ranks, counts, walk);
}
#endif

}  // namespace

bool decodeRecord(MoveToFrontTable& table, RangeCoder& coder, const std::uint8_t* payload,
                  std::uint32_t payloadLen, std::uint8_t* record, std::uint32_t capacity,
                  std::uint32_t& count) noexcept {
    RecordSink sink(record);
    return decodeInto<MoveToFrontDecodeCursor>(table, coder, payload, payloadLen, sink, capacity,
                                               count);
}

// The decoder's hot loop: on processors with SSSE3, move-to-front's short
// step is one byte shuffle, and with AVX2 its steps behind the front are
// branch-free (the same table, values and front).
bool decodeRecordRanked(MoveToFrontTable& table, RangeCoder& coder, const std::uint8_t* payload,
                        std::uint32_t payloadLen, std::uint8_t* record, std::uint32_t capacity,
                        std::uint32_t& count, std::uint16_t* ranks,
                        RecordByteCounts& counts) noexcept {
#if TAVRINE_X86_AVX2_DISPATCH
    if (platform::hasAvx2()) {
        return decodeRecordRankedWithTableShifts(table, coder, payload, payloadLen, record,
                                                 capacity, count, ranks, counts);
    }
#endif
#if TAVRINE_X86_SSSE3_DISPATCH
    if (platform::hasSsse3()) {
        return decodeRecordRankedWithShuffles(table, coder, payload, payloadLen, record, capacity,
                                              count, ranks, counts);
    }
#endif
    return decodeRankedWith<MoveToFrontDecodeCursor>(table, coder, payload, payloadLen, record,
                                                     capacity, count, ranks, counts);
}

bool decodeRecordRankedWalking(MoveToFrontTable& table, RangeCoder& coder,
                               const std::uint8_t* payload, std::uint32_t payloadLen,
                               std::uint8_t* record, std::uint32_t capacity, std::uint32_t& count,
                               std::uint16_t* ranks, RecordByteCounts& counts,
                               BlockWalk& walk) noexcept {
#if TAVRINE_X86_AVX2_DISPATCH
    if (platform::hasAvx2()) {
        return decodeRecordRankedWalkingWithTableShifts(table, coder, payload, payloadLen, record,
                                                        capacity, count, ranks, counts, walk);
    }
#endif
#if TAVRINE_X86_SSSE3_DISPATCH
    if (platform::hasSsse3()) {
        return decodeRecordRankedWalkingWithShuffles(table, coder, payload, payloadLen, record,
                                                     capacity, count, ranks, counts, walk);
    }
#endif
    return decodeRankedWalkingWith<MoveToFrontDecodeCursor>(table, coder, payload, payloadLen,
                                                            record, capacity, count, ranks,
                                                            counts, walk);
}

bool decodePositions(RangeCoder& coder, const std::uint8_t* payload, std::uint32_t payloadLen,
                     std::uint8_t* positions, std::uint32_t capacity,
                     std::uint32_t& count) noexcept {
    RangeDecoder decoder = coder.beginDecode(payload, payloadLen);
    std::uint32_t written = 0;
    while (decoder.normalize()) {
        if (written == capacity) [[unlikely]] {
            if (decoder.endOfBlockNext()) break;
            coder.abandonDecode(decoder);
            return false;
        }
        if (decoder.zeroDominates() && decoder.tryDecodeZero()) {
            positions[written++] = 0;
            continue;
        }
        const std::uint32_t symbol = decoder.decodeSymbol();
        if (symbol == static_cast<std::uint32_t>(kEndOfBlock)) break;
        positions[written++] = static_cast<std::uint8_t>(symbol);
    }
    coder.endDecode(decoder);
    count = written;
    return true;
}

}  // namespace tavrine
