#include "stream/codec_context.h"

#include "transform/block_sort.h"

namespace tavrine {

CodecContext::CodecContext() = default;

void CodecContext::ForwardBlockSort(std::uint8_t* record, const std::uint8_t* block,
                                    std::uint32_t n) {
    ForwardBlockSortReference(record, block, n, sortScratch());
}

// A decoding call never sorts forwards, so it never takes the merge buffer.
std::uint32_t* CodecContext::sortScratch() {
    if (scratch_.data() == nullptr) scratch_ = platform::HeapArray<std::uint32_t>(kScratchSlots);
    return scratch_.data();
}

std::uint16_t* CodecContext::inverseSortTable(std::uint32_t length) {
    const std::uint32_t entries = inverseSortTableEntries(length);
    if (inverseTable_.size() < entries) {
        inverseTable_.reset();  // the old table goes first, so the call never holds both
        inverseTable_ = platform::HeapArray<std::uint16_t>(entries);
    }
    return inverseTable_.data();
}

}  // namespace tavrine
