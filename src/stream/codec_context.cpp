#include "stream/codec_context.h"

#include "transform/block_sort.h"

namespace tavrine {

void CodecContext::ForwardBlockSort(std::uint8_t* record, const std::uint8_t* block,
                                    std::uint32_t n) {
    if (sortMethod_ == BlockSortMethod::reference) {
        if (referenceScratch_.size() == 0) {
            referenceScratch_ = platform::HeapArray<std::uint32_t>(kScratchSlots);
        }
        ForwardBlockSortReference(record, block, n, referenceScratch_.data());
        return;
    }
    sorter_.sort(record, block, n);
}

}  // namespace tavrine
