#include "stream/codec_context.h"

#include "transform/block_sort.h"

namespace tavrine {

CodecContext::CodecContext() : scratch_(kScratchSlots) {}

void CodecContext::ForwardBlockSort(std::uint8_t* record, const std::uint8_t* block,
                                    std::uint32_t n) {
    ForwardBlockSortReference(record, block, n, scratch_.data());
}

}  // namespace tavrine
