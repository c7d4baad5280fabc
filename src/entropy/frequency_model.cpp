#include "entropy/frequency_model.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/heap.h"

namespace tavrine {

namespace {

std::uint16_t* allocateTable(std::int32_t entries) noexcept {
    return static_cast<std::uint16_t*>(
        platform::allocatePlain(static_cast<std::size_t>(entries) * sizeof(std::uint16_t)));
}

void releaseTable(std::uint16_t*& table) noexcept {
    platform::releasePlain(table);
    table = nullptr;
}

// The 16-bit tables must hold the total, and the uniform fill must give every
// symbol at least 1; lookup entries then always fit a symbol number too.
constexpr bool supportedParameters(std::int32_t symbolCount, std::int32_t log2Total) noexcept {
    if (log2Total < 0 || log2Total > kModelMaxLog2Total) return false;
    return symbolCount >= 1 && symbolCount <= (std::int32_t{1} << log2Total);
}

constexpr std::int32_t modelTotal(const FrequencyModel* model) noexcept {
    return model->cumFreq[model->symbolCount];
}

// Doubles the period up to its bound, written so that no bound can overflow it.
constexpr std::int32_t nextInterval(std::int32_t interval, std::int32_t targetInterval) noexcept {
    if (interval >= targetInterval) return interval;
    return interval > targetInterval / 2 ? targetInterval : 2 * interval;
}

[[noreturn]] void abortOnLostFrequency(FrequencyModel* model, std::int32_t remaining) noexcept {
    std::fprintf(stderr, "BUG: rescaling left %d total frequency\n", static_cast<int>(remaining));
    modelRelease(model);
    std::exit(1);
}

// Entry j gets the symbol that holds the bucket's first value j << shift,
// which is the lowest symbol whose interval reaches the bucket. One ascending
// pass: every symbol ends where the next begins. The buckets are those of the
// values below the total, at most 128, so the sentinel entry behind them
// keeps the last symbol.
constexpr void rebuildLookupTable(FrequencyModel* model) noexcept {
    const std::int32_t shift = model->lookupShift;
    const std::int32_t buckets = modelTotal(model) >> shift;
    std::int32_t bucket = 0;
    // Intervals end at most at the total, a multiple of 2^shift, so no bucket
    // past the last is written; the last symbol's ends there, so s stays below n.
    for (std::int32_t s = 0; bucket < buckets; ++s) {
        const std::int32_t end = model->cumFreq[s + 1];
        for (; (bucket << shift) < end; ++bucket) {
            model->lookupTable[bucket] = static_cast<std::uint16_t>(s);
        }
    }
}

// The end of a period: the accumulators become the coding table and are halved
// (to an odd value, so at least 1) to seed the next period, whose updates then
// add exactly the amount the halving took away. The lookup table follows now,
// or is marked stale for modelRefreshLookup.
enum class LookupRebuild : std::uint8_t { now, whenNeeded };

constexpr void rebuild(FrequencyModel* model, LookupRebuild lookup) noexcept {
    model->interval = nextInterval(model->interval, model->targetInterval);

    // The coding table, from the top down: what the symbols below s counted.
    // Unrolled: the loop's own steps were a third of its work, at every
    // period end of both coders.
    const std::int32_t total = modelTotal(model);
    std::int32_t remaining = total;
#pragma GCC unroll 4
    for (std::int32_t s = model->symbolCount - 1; s >= 1; --s) {
        remaining -= model->accumFreq[s];
        model->cumFreq[s] = static_cast<std::uint16_t>(remaining);
    }
    if (remaining != model->accumFreq[0]) abortOnLostFrequency(model, remaining);

    // The halved counts seed the next period. A pass of its own, without the
    // running sum, which the compiler turns into vector operations.
    std::int32_t kept = 0;
    for (std::int32_t s = 0; s < model->symbolCount; ++s) {
        const auto halved = static_cast<std::uint16_t>((model->accumFreq[s] >> 1) | 1);
        model->accumFreq[s] = halved;
        kept += halved;
    }
    const std::int32_t missing = total - kept;

    // interval >= 2 always: it starts at (n >> 4) | 2 and only grows.
    model->step = missing / model->interval;
    model->deferredUpdates = missing % model->interval;
    model->untilRescale = model->interval - model->deferredUpdates;

    if (model->lookupTable == nullptr) return;
    if (lookup == LookupRebuild::now) {
        rebuildLookupTable(model);
        model->lookupStale = 0;
    } else {
        model->lookupStale = 1;
    }
}

// modelRescale, and modelRescaleLeavingLookup for LookupRebuild::whenNeeded.
constexpr void rescale(FrequencyModel* model, LookupRebuild lookup = LookupRebuild::now) noexcept {
    if (model->deferredUpdates != 0) {
        // The period's last updates make up the remainder of the division.
        model->step += 1;
        model->untilRescale = model->deferredUpdates;
        model->deferredUpdates = 0;
        return;
    }
    rebuild(model, lookup);
}

// modelReset with the caller's starting frequencies.
constexpr void resetToFrequencies(FrequencyModel* model, const std::int32_t* frequencies) noexcept {
    const std::int32_t n = model->symbolCount;
    model->interval = (n >> 4) | 2;
    model->deferredUpdates = 0;
    for (std::int32_t s = 0; s < n; ++s) {
        model->accumFreq[s] = static_cast<std::uint16_t>(frequencies[s]);
    }
    rescale(model);  // deferredUpdates is 0: a full rebuild
}

// modelReset without frequencies: the total shared out evenly.
constexpr void resetUniform(FrequencyModel* model) noexcept {
    const std::int32_t n = model->symbolCount;
    model->interval = (n >> 4) | 2;
    model->deferredUpdates = 0;
    const std::int32_t total = modelTotal(model);
    const std::int32_t share = total / n;
    const std::int32_t roundedUp = total % n;
    for (std::int32_t s = 0; s < n; ++s) {
        model->accumFreq[s] = static_cast<std::uint16_t>(s < roundedUp ? share + 1 : share);
    }
    rescale(model);
}

// modelReset. Kept apart from the two forms so that the compile-time starting
// model never compares a global's address with null, which builds that keep
// null-pointer checks (the sanitizers) cannot evaluate as a constant.
inline void reset(FrequencyModel* model, const std::int32_t* frequencies) noexcept {
    if (frequencies != nullptr) {
        resetToFrequencies(model, frequencies);
    } else {
        resetUniform(model);
    }
}

constexpr std::int32_t lookupShiftFor(std::int32_t log2Total) noexcept {
    return log2Total > kLookupBucketBits ? log2Total - kLookupBucketBits : 0;
}

// What modelInit sets before it resets the model: the parameters, the total
// in the coding table's last entry, its first entry and the lookup sentinel.
constexpr void setParameters(FrequencyModel* model, std::int32_t symbolCount,
                             std::int32_t log2Total, std::int32_t targetInterval) noexcept {
    model->targetInterval = targetInterval;
    model->symbolCount = symbolCount;
    model->lookupShift = lookupShiftFor(log2Total);
    const std::int32_t total = std::int32_t{1} << log2Total;
    model->cumFreq[symbolCount] = static_cast<std::uint16_t>(total);
    model->cumFreq[0] = 0;
    if (model->lookupTable != nullptr) {
        // The sentinel follows the last bucket: entry 128 for totals of 2^7 and
        // more, an earlier entry for the smaller totals whose shift is 0.
        const std::int32_t sentinel = total >> model->lookupShift;
        model->lookupTable[sentinel] = static_cast<std::uint16_t>(symbolCount - 1);
    }
}

// Releases the arrays, then obtains them for the parameters and sets these;
// false, with every array released, when the parameters are refused or an
// array cannot be obtained.
bool obtainArrays(FrequencyModel* model, std::int32_t symbolCount, std::int32_t log2Total,
                  std::int32_t targetInterval, std::int32_t noLookupTable) noexcept {
    modelRelease(model);
    if (!supportedParameters(symbolCount, log2Total)) return false;
    model->cumFreq = allocateTable(symbolCount + 1);
    model->accumFreq = allocateTable(symbolCount + 1);
    if (noLookupTable == 0) model->lookupTable = allocateTable(kLookupEntries);
    if (model->cumFreq == nullptr || model->accumFreq == nullptr ||
        (noLookupTable == 0 && model->lookupTable == nullptr)) {
        modelRelease(model);
        return false;
    }
    setParameters(model, symbolCount, log2Total, targetInterval);
    return true;
}

// The codec's model right after modelInit, made by the very steps above when
// the library is compiled, so that a call or an uncoded block starts the
// model over by copying it.
struct StartingModel {
    std::array<std::uint16_t, kModelSymbols + 1> cumFreq{};
    std::array<std::uint16_t, kModelSymbols> accumFreq{};
    std::array<std::uint16_t, kLookupEntries> lookupTable{};
    std::int32_t untilRescale = 0;
    std::int32_t deferredUpdates = 0;
    std::int32_t interval = 0;
    std::int32_t step = 0;
};

constexpr StartingModel makeStartingModel() noexcept {
    StartingModel start;
    std::array<std::uint16_t, kModelSymbols + 1> accumulators{};
    FrequencyModel model{};
    model.cumFreq = start.cumFreq.data();
    model.accumFreq = accumulators.data();
    model.lookupTable = start.lookupTable.data();
    setParameters(&model, kModelSymbols, kModelLog2Total, kModelTargetInterval);
    resetToFrequencies(&model, initialFrequencies.data());
    for (std::size_t s = 0; s < start.accumFreq.size(); ++s) start.accumFreq[s] = accumulators[s];
    start.untilRescale = model.untilRescale;
    start.deferredUpdates = model.deferredUpdates;
    start.interval = model.interval;
    start.step = model.step;
    return start;
}

constexpr StartingModel kStartingModel = makeStartingModel();

}  // namespace

bool modelInit(FrequencyModel* model, std::int32_t symbolCount, std::int32_t log2Total,
               std::int32_t targetInterval, const std::int32_t* frequencies,
               std::int32_t noLookupTable) noexcept {
    if (!obtainArrays(model, symbolCount, log2Total, targetInterval, noLookupTable)) return false;
    reset(model, frequencies);
    return true;
}

bool modelInitForCodec(FrequencyModel* model) noexcept {
    if (!obtainArrays(model, kModelSymbols, kModelLog2Total, kModelTargetInterval, 0)) return false;
    modelResetForCodec(model);
    return true;
}

void modelReset(FrequencyModel* model, const std::int32_t* frequencies) noexcept {
    reset(model, frequencies);
}

// The copy holds every entry that reset writes and setParameters set.
void modelResetForCodec(FrequencyModel* model) noexcept {
    std::memcpy(model->cumFreq, kStartingModel.cumFreq.data(), sizeof(kStartingModel.cumFreq));
    std::memcpy(model->accumFreq, kStartingModel.accumFreq.data(),
                sizeof(kStartingModel.accumFreq));
    std::memcpy(model->lookupTable, kStartingModel.lookupTable.data(),
                sizeof(kStartingModel.lookupTable));
    model->untilRescale = kStartingModel.untilRescale;
    model->deferredUpdates = kStartingModel.deferredUpdates;
    model->interval = kStartingModel.interval;
    model->step = kStartingModel.step;
    model->lookupStale = 0;
}

void modelRescale(FrequencyModel* model) noexcept { rescale(model); }

void modelRescaleLeavingLookup(FrequencyModel* model) noexcept {
    rescale(model, LookupRebuild::whenNeeded);
}

void modelRefreshLookup(FrequencyModel* model) noexcept {
    if (model->lookupStale == 0) return;
    rebuildLookupTable(model);
    model->lookupStale = 0;
}

void modelUpdate(FrequencyModel* model, std::int32_t symbol) noexcept {
    if (model->untilRescale <= 0) modelRescale(model);
    model->untilRescale -= 1;
    model->accumFreq[symbol] = static_cast<std::uint16_t>(model->accumFreq[symbol] + model->step);
}

void modelGetFrequency(const FrequencyModel* model, std::int32_t symbol, std::int32_t& frequency,
                       std::int32_t& cumulativeLow) noexcept {
    cumulativeLow = model->cumFreq[symbol];
    frequency = model->cumFreq[symbol + 1] - cumulativeLow;
}

std::int32_t modelFindSymbol(const FrequencyModel* model, std::int32_t value) noexcept {
    std::int32_t lo = 0;
    std::int32_t hi = model->symbolCount;
    if (model->lookupTable != nullptr) {
        // The bucket after the value's own bounds the search from above; the
        // sentinel makes that the last symbol for the last bucket.
        const std::int32_t bucket = value >> model->lookupShift;
        lo = model->lookupTable[bucket];
        hi = model->lookupTable[bucket + 1] + 1;
    }
    // Invariant: cumFreq[lo] <= value < cumFreq[hi].
    while (lo + 1 < hi) {
        const std::int32_t mid = (lo + hi) >> 1;
        if (value < model->cumFreq[mid]) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    return lo;
}

void modelRelease(FrequencyModel* model) noexcept {
    releaseTable(model->cumFreq);
    releaseTable(model->accumFreq);
    releaseTable(model->lookupTable);
    model->lookupStale = 0;
}

}  // namespace tavrine
