// The working object of one encode or decode call. It owns all memory that
// lives for the whole call: the block sorter's tables, the move-to-front
// table and the range coder with its model. Nothing in it outlives the call or
// is shared between calls, so calls on different threads never meet here.
#pragma once

#include <cstdint>

#include "entropy/range_coder.h"
#include "platform/heap.h"
#include "stream/record_coding.h"
#include "stream/stream_format.h"
#include "tavrine.h"
#include "transform/block_sort.h"
#include "transform/block_sorter.h"
#include "transform/move_to_front.h"

namespace tavrine {

struct EncodeCall {
    std::uint32_t variant;  // 0: every block uncoded; 5: range coded where shorter
    std::uint8_t* dst;
    const std::uint8_t* src;
    std::uint32_t capacity;  // of dst, read once by the export
    std::uint32_t srcLen;    // at least 1
    std::uint32_t* dstLen;
    ZOLT_ProgressCallback callback;  // may be null
    void* user;
};

struct DecodeCall {
    std::uint8_t* dst;
    const std::uint8_t* src;
    std::uint32_t capacity;
    std::uint32_t srcLen;  // at least 1
    std::uint32_t* dstLen;
    ZOLT_ProgressCallback callback;
    void* user;
};

// How a call ended.
enum class CallStatus : std::uint8_t {
    ok,
    corrupt,         // a block that no encoder writes
    truncated,       // the stream ends inside a block
    outputTooSmall,  // the next block does not fit the capacity left
    aborted,         // the progress callback returned 0
};

struct CallOutcome {
    CallStatus status = CallStatus::ok;
    std::uint32_t consumed = 0;  // input bytes of the complete blocks: after a failure, the
                                 // stream offset (decoding) or source offset of the failing block
    std::uint32_t produced = 0;  // output bytes of the complete blocks
    bool reachedEnd = false;     // the loop ran to its end: the length and the final report are due
};

// What became of one block handed to the decoder.
enum class BlockVerdict : std::uint8_t {
    decoded,
    corrupt,
    overrun,  // more symbols than its record holds: the one-shot decoder ends as if the
              // stream ended before this block
};

// The bytes of the last block that decodeNextBlockOverlapped decoded, still
// to be written. Whichever way the loop that holds it ends, an exception
// included, they are written before it goes.
class PendingBlock {
public:
    PendingBlock() noexcept = default;
    ~PendingBlock() { walk_.finish(); }
    PendingBlock(const PendingBlock&) = delete;
    PendingBlock& operator=(const PendingBlock&) = delete;
    PendingBlock(PendingBlock&&) = delete;
    PendingBlock& operator=(PendingBlock&&) = delete;

    void finish() noexcept { walk_.finish(); }
    BlockWalk& walk() noexcept { return walk_; }

private:
    BlockWalk walk_;
};

class CodecContext {
public:
    // Obtains the model's arrays; throws std::bad_alloc when it cannot. The
    // block sorter takes its tables on the first block, the inverse sort its
    // table on the first block decoded: a call takes only what it uses.
    CodecContext() = default;
    // Releases the model's arrays, if still held, then the sort tables.
    ~CodecContext() = default;

    CodecContext(const CodecContext&) = delete;
    CodecContext& operator=(const CodecContext&) = delete;
    CodecContext(CodecContext&&) = delete;
    CodecContext& operator=(CodecContext&&) = delete;

    // Writes the n + 2 byte block record of block[0 .. n-1], 1 <= n <= 65536,
    // into record. The sorter's tables are obtained on the first call and kept
    // for the blocks after it; throws std::bad_alloc when they cannot be obtained.
    void ForwardBlockSort(std::uint8_t* record, const std::uint8_t* block, std::uint32_t n);

    // The state chained across the blocks of one stream: move-to-front at the
    // identity and the model initialised (throws std::bad_alloc), and its end,
    // which releases the model's arrays.
    void startStream();
    void endStream() noexcept { coder_.releaseModel(); }

    // Encodes the len source bytes at src (1 to kBlockSize) as the stream's
    // next block at `block`, which has room for `room` bytes (more than a
    // header). record holds kRecordOverhead + kBlockSize bytes. Returns the
    // block's size, or 0 when it does not fit: then its header is not written,
    // though coded bytes may stand behind it. The block is the same for any
    // room of at least kMaxEncodedBlock bytes.
    std::uint32_t encodeNextBlock(std::uint32_t variant, const std::uint8_t* src, std::uint32_t len,
                                  std::uint8_t* block, std::uint32_t room, std::uint8_t* record);

    // encodeNextBlock after its block sort, for a record that ForwardBlockSort
    // (or another thread's BlockSorter) wrote for `len` source bytes: the
    // steps that chain the stream's state, run in block order.
    std::uint32_t encodeSortedBlock(std::uint32_t variant, std::uint32_t len, std::uint8_t* block,
                                    std::uint32_t room, std::uint8_t* record);

    // Decodes the stream's next block, whose header passed headerIsPlausible
    // and whose header.size - kBlockHeaderSize payload bytes are at `payload`,
    // into out (header.decodedLength bytes). record holds
    // kDecodeRecordCapacity bytes. out is written only when the block decodes.
    BlockVerdict decodeNextBlock(BlockHeader header, const std::uint8_t* payload, std::uint8_t* out,
                                 std::uint8_t* record);

    // decodeNextBlock for a loop that knows another block follows: the
    // inverse sort's walk runs beside the next block's range decoding.
    // `pending` holds the bytes of the block before still to write, and the
    // call writes them all. When it returns decoded, `pending` holds this
    // block's bytes, which the next call or pending.finish() writes to out.
    BlockVerdict decodeNextBlockOverlapped(BlockHeader header, const std::uint8_t* payload,
                                           std::uint8_t* out, std::uint8_t* record,
                                           PendingBlock& pending) {
        return decodeBesideWalk(header, payload, out, record, pending, false);
    }

    // decodeNextBlock for a block whose walk no next block would hide (the
    // last one, or one before a short last one): the walk that `pending`
    // holds steps beside its range decoding, and the call writes the bytes
    // of both blocks.
    BlockVerdict decodeNextBlockWalkedNow(BlockHeader header, const std::uint8_t* payload,
                                          std::uint8_t* out, std::uint8_t* record,
                                          PendingBlock& pending) {
        return decodeBesideWalk(header, payload, out, record, pending, true);
    }

    // decodeNextBlock up to its inverse sort: the record restored into
    // `record` and its primary index checked, the steps that chain the
    // stream's state. When it returns decoded, InverseBlockSort of the record
    // (on any thread) gives the block's bytes.
    BlockVerdict restoreNextRecord(BlockHeader header, const std::uint8_t* payload,
                                   std::uint8_t* record);

    // decodeNextBlock's range decoding alone, the step that chains the model
    // from block to block: the record's move-to-front positions (an uncoded
    // payload's bytes as they stand) into `positions`, which holds
    // kDecodeRecordCapacity bytes. When it returns decoded,
    // restoreFromPositions on the blocks in order gives their records.
    BlockVerdict decodeNextPositions(BlockHeader header, const std::uint8_t* payload,
                                     std::uint8_t* positions);

    // Move-to-front as the blocks decoded so far left it.
    const MoveToFrontTable& moveToFront() const noexcept { return moveToFront_; }

    // The block loops over a whole buffer; they neither store a length nor
    // make the final report, which are due when the outcome reachedEnd.
    // Throw std::bad_alloc when memory runs out.
    CallOutcome runEncode(const EncodeCall& call);
    CallOutcome runDecode(const DecodeCall& call);

    // The loops as the ZOLT_ exports run them: 1 on success, 0 on failure or
    // abort. *dstLen is written only at the end (see runDecode for the one
    // failure that also writes it). Throw std::bad_alloc when memory runs out;
    // the exports turn that into 0.
    int encodeLoop(const EncodeCall& call);
    int decodeLoop(const DecodeCall& call);

private:
    // The two above: the block decoded with the walk that `pending` holds
    // stepped beside it, then inverse sorted at once or left pending.
    BlockVerdict decodeBesideWalk(BlockHeader header, const std::uint8_t* payload,
                                  std::uint8_t* out, std::uint8_t* record, PendingBlock& pending,
                                  bool walkNow);

    // The inverse block sort's table, for blocks of up to `length` bytes; it
    // grows with the largest block of the call and is reused by every block.
    std::uint16_t* inverseSortTable(std::uint32_t length);
    // The same for the walk's table (PrepareBlockWalk).
    std::uint32_t* blockWalkTable(std::uint32_t length);

    BlockSorter sorter_;
    platform::HeapArray<std::uint16_t> inverseTable_;
    platform::HeapArray<std::uint32_t> walkTable_;
    MoveToFrontTable moveToFront_;
    EncodingCursorHint cursorHint_;
    RangeCoder coder_;
};

// The rest of a block's restoring after decodeNextPositions, on any thread,
// for the blocks of a stream in order: undoes move-to-front over the len +
// kRecordOverhead positions at record, in place, with `table` as the blocks
// before left it, and checks the primary index. When it returns decoded,
// InverseBlockSort of the record gives the block's len bytes.
BlockVerdict restoreFromPositions(MoveToFrontTable& table, std::uint8_t* record,
                                  std::uint32_t len) noexcept;

}  // namespace tavrine
