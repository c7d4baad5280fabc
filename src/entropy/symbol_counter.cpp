#include "entropy/symbol_counter.h"

namespace tavrine {

void rescaleModel(FrequencyModel* model, ByteSymbolIndex* index) noexcept {
    const bool rebuildsTable = model->deferredUpdates == 0;
    modelRescale(model);
    if (rebuildsTable && index != nullptr && ByteSymbolIndex::worthKeeping(*model)) {
        index->rebuild(*model);
    }
}

}  // namespace tavrine
