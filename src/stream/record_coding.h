// A block record's move-to-front stage and range coding in one pass each way:
// the positions that move-to-front gives go straight into the coder, and the
// decoder's symbols straight through the inverse move-to-front, instead of a
// pass over the record per stage. The results equal the separate stages run
// one after the other: MoveToFrontEncode then encodeBlock, decodeBlock then
// MoveToFrontDecode.
#pragma once

#include <cstdint>

#include "entropy/range_coder.h"
#include "transform/block_sort.h"
#include "transform/move_to_front.h"

namespace tavrine {

// Rewrites record[0 .. n-1] by move-to-front and codes the positions into out,
// writing at most outCap bytes. Returns the full coded length L; the payload
// is complete when L <= outCap. The coder's model must be ready.
std::uint32_t encodeRecord(MoveToFrontTable& table, RangeCoder& coder, std::uint8_t* record,
                           std::uint32_t n, std::uint8_t* out, std::uint32_t outCap) noexcept;

// What the encoding pass noted of the record before, to choose its
// move-to-front cursor for the next: whether most of its positions lay
// behind the front. Only the speed depends on it, not a byte.
struct EncodingCursorHint {
    bool positionsSpread = false;
};

// The same for a record whose payload is kept only when shorter than the
// record, written to out, which holds n bytes: rewrites record[0 .. n-1] by
// move-to-front and returns the payload length L, with the payload complete
// in out[0 .. L-1], when L < n. Otherwise returns n, without coding further
// than it takes to know; out's first n bytes and the model are then
// unspecified, and the caller stores the record and initialises the model.
// Updates `hint` for the stream's next record.
std::uint32_t encodeRecordIfShorter(MoveToFrontTable& table, RangeCoder& coder,
                                    std::uint8_t* record, std::uint32_t n, std::uint8_t* out,
                                    EncodingCursorHint& hint) noexcept;

// Decodes the payloadLen bytes of a range-coded payload into record, undoing
// move-to-front on the way, until the end-of-block symbol or the end of the
// payload; sets count to the bytes written. Returns false, count untouched,
// when a symbol arrives after capacity bytes have been written. The coder's
// model must be ready.
bool decodeRecord(MoveToFrontTable& table, RangeCoder& coder, const std::uint8_t* payload,
                  std::uint32_t payloadLen, std::uint8_t* record, std::uint32_t capacity,
                  std::uint32_t& count) noexcept;

// decodeRecord that also counts the bytes it writes, as InverseBlockSortRanked
// takes them: sets `counts` to how often each value occurs in record[0 ..
// count-1] and ranks[w] to how often record[w]'s value occurs in record[0 ..
// w-1] (in 16 bits), for every byte written. ranks holds capacity entries.
// On failure both are unspecified.
bool decodeRecordRanked(MoveToFrontTable& table, RangeCoder& coder, const std::uint8_t* payload,
                        std::uint32_t payloadLen, std::uint8_t* record, std::uint32_t capacity,
                        std::uint32_t& count, std::uint16_t* ranks,
                        RecordByteCounts& counts) noexcept;

// decodeRecordRanked that also takes `walk`, the block before's bytes, a
// step further for every byte it writes; the walk is left where it stopped,
// with bytes still to write if the record was the shorter.
bool decodeRecordRankedWalking(MoveToFrontTable& table, RangeCoder& coder,
                               const std::uint8_t* payload, std::uint32_t payloadLen,
                               std::uint8_t* record, std::uint32_t capacity, std::uint32_t& count,
                               std::uint16_t* ranks, RecordByteCounts& counts,
                               BlockWalk& walk) noexcept;

// The range decoding of decodeRecord alone: the move-to-front positions
// themselves into `positions`, for a decoder that undoes move-to-front on
// another thread. The same contract otherwise; the table is not touched.
bool decodePositions(RangeCoder& coder, const std::uint8_t* payload, std::uint32_t payloadLen,
                     std::uint8_t* positions, std::uint32_t capacity,
                     std::uint32_t& count) noexcept;

}  // namespace tavrine
