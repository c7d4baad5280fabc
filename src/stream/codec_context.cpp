#include "stream/codec_context.h"

#include "transform/block_sort.h"

namespace tavrine {

void CodecContext::ForwardBlockSort(std::uint8_t* record, const std::uint8_t* block,
                                    std::uint32_t n) {
    sorter_.sort(record, block, n);
}

std::uint16_t* CodecContext::inverseSortTable(std::uint32_t length) {
    const std::uint32_t entries = inverseSortTableEntries(length);
    if (inverseTable_.size() < entries) {
        inverseTable_.reset();  // the old table goes first, so the call never holds both
        inverseTable_ = platform::HeapArray<std::uint16_t>(entries);
    }
    return inverseTable_.data();
}

std::uint32_t* CodecContext::blockWalkTable(std::uint32_t length) {
    if (walkTable_.size() < length) {
        walkTable_.reset();
        walkTable_ = platform::HeapArray<std::uint32_t>(length);
    }
    return walkTable_.data();
}

}  // namespace tavrine
