#include "entropy/range_coding.h"

#include <cstring>

namespace tavrine {

// Every byte symbol has a frequency of at least 1, so the intervals of
// symbols 0..255 tile the values 0 .. cumFreq[256]-1 exactly.
void ByteSymbolIndex::rebuild(const FrequencyModel& model) noexcept {
    const std::uint16_t* cumFreq = model.cumFreq;
    for (std::uint32_t symbol = 0; symbol < static_cast<std::uint32_t>(kEndOfBlock); ++symbol) {
        std::memset(entries_.data() + cumFreq[symbol], static_cast<int>(symbol),
                    static_cast<std::size_t>(cumFreq[symbol + 1] - cumFreq[symbol]));
    }
}

void rescaleModel(FrequencyModel* model, ByteSymbolIndex* index) noexcept {
    const bool rebuildsTable = model->deferredUpdates == 0;
    modelRescale(model);
    if (rebuildsTable && index != nullptr) index->rebuild(*model);
}

}  // namespace tavrine
