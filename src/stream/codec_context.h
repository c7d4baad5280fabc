// The working object of one encode or decode call. It owns all memory that
// lives for the whole call: the block sorter's tables, the move-to-front
// table and the range coder with its model. Nothing in it outlives the call or
// is shared between calls, so calls on different threads never meet here.
#pragma once

#include <cstdint>

#include "entropy/range_coder.h"
#include "platform/heap.h"
#include "tavrine.h"
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

    // The block loops: 1 on success, 0 on failure or abort. *dstLen is written
    // only at the end (see the loops for the one failure that also writes it).
    // Throw std::bad_alloc when memory runs out; the exports turn that into 0.
    int encodeLoop(const EncodeCall& call);
    int decodeLoop(const DecodeCall& call);

private:
    // The inverse block sort's table, for blocks of up to `length` bytes; it
    // grows with the largest block of the call and is reused by every block.
    std::uint16_t* inverseSortTable(std::uint32_t length);

    BlockSorter sorter_;
    platform::HeapArray<std::uint16_t> inverseTable_;
    MoveToFrontTable moveToFront_;
    RangeCoder coder_;
};

}  // namespace tavrine
