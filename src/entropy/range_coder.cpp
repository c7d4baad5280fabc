#include "entropy/range_coder.h"

#include <new>

namespace tavrine {

RangeCoder::RangeCoder() { initModel(); }

RangeCoder::~RangeCoder() { releaseModel(); }

// A model that holds its arrays was initialised with the codec's parameters
// (nothing else initialises it), and modelInit writes nothing that later calls
// change besides what modelReset loads and rebuilds: the total in cumFreq[n],
// cumFreq[0] and the lookup sentinel stay as they are. So modelReset on the
// arrays held, here its compiled copy, gives the very state of modelInit,
// without releasing and obtaining them again; and a model that has not coded
// since then is in that state already. The decoder's table is rebuilt when a
// block next needs it.
void RangeCoder::initModel() {
    if (modelReady()) {
        if (modelFresh_) return;
        modelResetForCodec(&model_);
    } else if (!modelInitForCodec(&model_)) {
        modelFresh_ = false;
        indexCurrent_ = false;
        throw std::bad_alloc();
    }
    modelFresh_ = true;
    indexCurrent_ = false;
}

void RangeCoder::releaseModel() noexcept {
    modelRelease(&model_);
    modelFresh_ = false;
    indexCurrent_ = false;
}

bool RangeCoder::modelReady() const noexcept {
    return model_.cumFreq != nullptr && model_.accumFreq != nullptr &&
           model_.lookupTable != nullptr;
}

void RangeCoder::rebuildIndex() noexcept {
    index_.rebuild(model_);
    indexCurrent_ = true;
}

}  // namespace tavrine
