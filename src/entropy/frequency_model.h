// Adaptive cumulative-frequency model over a fixed power-of-two total.
//
// The coding table `cumFreq` stays fixed for a period while the period's
// occurrences are counted in `accumFreq`; at the end of the period the counts
// become the new coding table and are halved to seed the next one. Each period
// adds exactly what brings the counts back to the total, so the coding table
// always sums to the total and every symbol keeps a frequency of at least 1.
// Periods start short and double up to `targetInterval` updates.
//
// A plain structure handled by free functions; the owner zeroes it before the
// first modelInit and releases it with modelRelease. Encoder and decoder stay
// in step by making the same calls in the same order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tavrine {

// Parameters of the codec's model: the 256 byte values and the end-of-block symbol.
constexpr std::int32_t kModelSymbols = 257;
constexpr std::int32_t kEndOfBlock = 256;
constexpr std::int32_t kModelLog2Total = 12;
constexpr std::int32_t kModelTotal = 1 << kModelLog2Total;
constexpr std::int32_t kModelTargetInterval = 2000;

// The 16-bit tables hold totals up to 2^15.
constexpr std::int32_t kModelMaxLog2Total = 15;
// The lookup table has 128 buckets plus a sentinel entry holding the last symbol.
constexpr std::int32_t kLookupBucketBits = 7;
constexpr std::int32_t kLookupEntries = (1 << kLookupBucketBits) + 1;

struct FrequencyModel {
    std::int32_t symbolCount;      // n
    std::int32_t untilRescale;     // updates left before the next modelRescale
    std::int32_t deferredUpdates;  // updates at the period's end that add step + 1
    std::int32_t interval;         // updates in the current period
    std::int32_t targetInterval;   // upper bound of interval
    std::int32_t step;             // added to an accumulator per update (low 16 bits count)
    std::int32_t lookupShift;      // maps a cumulative value to its lookup bucket
    std::uint16_t* cumFreq;        // n + 1 entries: cumFreq[s] = frequencies below s
    std::uint16_t* accumFreq;      // n + 1 entries allocated, n used: this period's counts
    std::uint16_t* lookupTable;    // kLookupEntries entries, or null
    // Nonzero while lookupTable still describes an older coding table: a
    // rebuild by modelRescaleLeavingLookup, for coders that never look a
    // value up, leaves it for modelRefreshLookup.
    std::int32_t lookupStale;
};

namespace detail {

struct FrequencyRun {
    std::int32_t firstSymbol;
    std::int32_t frequency;
};

// Small move-to-front values dominate, so the starting frequencies fall steeply.
constexpr std::array<FrequencyRun, 21> kInitialRuns{{
    {0, 1400}, {1, 640}, {2, 320}, {3, 240}, {4, 160}, {5, 120}, {6, 80},
    {7, 64},   {8, 48},  {9, 40},  {10, 32}, {11, 24}, {12, 20}, {16, 16},
    {20, 12},  {26, 8},  {32, 6},  {48, 5},  {64, 4},  {96, 3},  {134, 2},
}};

constexpr std::array<std::int32_t, kModelSymbols> expandInitialRuns() {
    std::array<std::int32_t, kModelSymbols> table{};
    std::size_t run = 0;
    for (std::size_t s = 0; s < table.size(); ++s) {
        if (run + 1 < kInitialRuns.size() &&
            static_cast<std::int32_t>(s) == kInitialRuns[run + 1].firstSymbol) {
            ++run;
        }
        table[s] = kInitialRuns[run].frequency;
    }
    return table;
}

constexpr std::int64_t sum(const std::array<std::int32_t, kModelSymbols>& table) {
    std::int64_t total = 0;
    for (const std::int32_t f : table) total += f;
    return total;
}

}  // namespace detail

// The starting table of every model of the codec.
inline constexpr std::array<std::int32_t, kModelSymbols> initialFrequencies =
    detail::expandInitialRuns();
static_assert(detail::sum(initialFrequencies) == kModelTotal,
              "the starting frequencies must sum to the model total");

// Releases any arrays, sets the parameters, allocates the arrays and resets the
// model from `frequencies` (n entries, each at least 1, summing to the total) or
// uniformly when null. Returns false, with every array released and every
// pointer null, when an array cannot be obtained or the parameters are outside
// 1 <= symbolCount <= 2^log2Total, 0 <= log2Total <= 15; the model must then not
// be used until a later modelInit succeeds.
[[nodiscard]] bool modelInit(FrequencyModel* model, std::int32_t symbolCount,
                             std::int32_t log2Total, std::int32_t targetInterval,
                             const std::int32_t* frequencies, std::int32_t noLookupTable) noexcept;

// modelInit(model, kModelSymbols, kModelLog2Total, kModelTargetInterval,
// initialFrequencies.data(), 0), the codec's one use of it: the state it
// leaves is copied from one made when the library was compiled.
[[nodiscard]] bool modelInitForCodec(FrequencyModel* model) noexcept;

// modelReset(model, initialFrequencies.data()) for a model that
// modelInitForCodec initialised, by the same copy.
void modelResetForCodec(FrequencyModel* model) noexcept;

// Loads the accumulators (from `frequencies`, or uniformly when null) and
// rebuilds the coding table; the first period then runs. The table is only
// read during the call.
void modelReset(FrequencyModel* model, const std::int32_t* frequencies) noexcept;

// Ends the first stretch of a period or, when none is deferred, the period
// itself (full rebuild). A rebuild that finds the accumulators not summing to
// the total reports it on stderr and ends the process with status 1.
void modelRescale(FrequencyModel* model) noexcept;

// modelRescale that, at a full rebuild, leaves the lookup table stale
// instead of rebuilding it: for an encoder, or a decoder that finds symbols
// another way. The coding table and the counters are modelRescale's.
void modelRescaleLeavingLookup(FrequencyModel* model) noexcept;

// Brings a stale lookup table up to date with the coding table, as the
// last full rebuild would have left it; does nothing when it is current.
void modelRefreshLookup(FrequencyModel* model) noexcept;

// Counts one occurrence of `symbol` (0 <= symbol < n).
void modelUpdate(FrequencyModel* model, std::int32_t symbol) noexcept;

// The coding interval of `symbol`: [cumulativeLow, cumulativeLow + frequency).
void modelGetFrequency(const FrequencyModel* model, std::int32_t symbol, std::int32_t& frequency,
                       std::int32_t& cumulativeLow) noexcept;

// The symbol s with cumFreq[s] <= value < cumFreq[s + 1], for 0 <= value < total.
// A lookup table must be current (lookupStale 0), as every function but
// modelRescaleLeavingLookup leaves it.
std::int32_t modelFindSymbol(const FrequencyModel* model, std::int32_t value) noexcept;

// Frees the arrays and clears their pointers; harmless on a released or zeroed model.
void modelRelease(FrequencyModel* model) noexcept;

}  // namespace tavrine
