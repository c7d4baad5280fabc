#include "entropy/symbol_counter.h"

namespace tavrine {

// Neither coder reads the model's lookup table: the encoder needs only the
// coding table, and the decoder searches the coding table itself in the
// short early periods and keeps its own index from then on.
void rescaleModel(FrequencyModel* model, ByteSymbolIndex* index) noexcept {
    const bool rebuildsTable = model->deferredUpdates == 0;
    modelRescaleLeavingLookup(model);
    if (rebuildsTable && index != nullptr && ByteSymbolIndex::worthKeeping(*model)) {
        index->rebuild(*model);
    }
}

}  // namespace tavrine
