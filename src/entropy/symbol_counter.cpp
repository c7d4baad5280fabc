#include "entropy/symbol_counter.h"

namespace tavrine {

// An encoder reads only the coding table; a decoder finds symbols through the
// index or, in the short early periods, through the model's lookup table, so
// only one of the two follows each rebuild.
void rescaleModel(FrequencyModel* model, ByteSymbolIndex* index) noexcept {
    const bool rebuildsTable = model->deferredUpdates == 0;
    modelRescaleLeavingLookup(model);
    if (!rebuildsTable || index == nullptr) return;
    if (ByteSymbolIndex::worthKeeping(*model)) {
        index->rebuild(*model);
    } else {
        modelRefreshLookup(model);
    }
}

}  // namespace tavrine
