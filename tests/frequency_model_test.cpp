// The adaptive frequency model: starting state, lookup, update schedule,
// period lengths, resets, ownership and the consistency check.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "entropy/byte_symbol_index.h"
#include "entropy/frequency_model.h"
#include "platform/heap.h"

namespace {

using tavrine::FrequencyModel;
using tavrine::initialFrequencies;
using tavrine::kModelSymbols;
using tavrine::kModelTotal;

// A model that is zeroed like its owner zeroes it, and released at scope exit.
struct ScopedModel {
    FrequencyModel m{};
    ScopedModel() = default;
    ScopedModel(const ScopedModel&) = delete;
    ScopedModel& operator=(const ScopedModel&) = delete;
    ~ScopedModel() { tavrine::modelRelease(&m); }

    // The codec's parameters, with a table of the caller's choice.
    bool init(const std::int32_t* frequencies = initialFrequencies.data()) {
        return tavrine::modelInit(&m, kModelSymbols, tavrine::kModelLog2Total,
                                  tavrine::kModelTargetInterval, frequencies, 0);
    }
};

std::int32_t frequencyOf(const FrequencyModel& m, std::int32_t symbol) {
    std::int32_t frequency = -1;
    std::int32_t low = -1;
    tavrine::modelGetFrequency(&m, symbol, frequency, low);
    EXPECT_EQ(low, m.cumFreq[symbol]);
    return frequency;
}

std::int32_t accumulatorSum(const FrequencyModel& m) {
    std::int32_t sum = 0;
    for (std::int32_t s = 0; s < m.symbolCount; ++s) sum += m.accumFreq[s];
    return sum;
}

std::vector<std::uint16_t> accumulators(const FrequencyModel& m) {
    return {m.accumFreq, m.accumFreq + m.symbolCount};
}

std::vector<std::uint16_t> codingTable(const FrequencyModel& m) {
    return {m.cumFreq, m.cumFreq + m.symbolCount + 1};
}

// Every value of the total maps to the symbol whose interval holds it.
void expectFindSymbolAgreesWithTable(const FrequencyModel& m) {
    const std::int32_t total = m.cumFreq[m.symbolCount];
    for (std::int32_t v = 0; v < total; ++v) {
        const std::int32_t s = tavrine::modelFindSymbol(&m, v);
        ASSERT_GE(s, 0) << "value " << v;
        ASSERT_LT(s, m.symbolCount) << "value " << v;
        ASSERT_LE(m.cumFreq[s], v) << "value " << v;
        ASSERT_LT(v, m.cumFreq[s + 1]) << "value " << v;
    }
}

// The lookup table as the rebuild defines it: symbols from the highest down,
// each writing every bucket its interval reaches.
std::vector<std::uint16_t> literalLookupTable(const FrequencyModel& m) {
    std::vector<std::uint16_t> table(m.lookupTable, m.lookupTable + tavrine::kLookupEntries);
    for (std::int32_t s = m.symbolCount - 1; s >= 0; --s) {
        const std::int32_t first = m.cumFreq[s] >> m.lookupShift;
        const std::int32_t last = (m.cumFreq[s + 1] - 1) >> m.lookupShift;
        for (std::int32_t j = first; j <= last; ++j) table[j] = static_cast<std::uint16_t>(s);
    }
    return table;
}

std::vector<std::uint16_t> lookupTable(const FrequencyModel& m) {
    return {m.lookupTable, m.lookupTable + tavrine::kLookupEntries};
}

TEST(FrequencyModel, StartingTableRunsAndNoZeroEntry) {
    for (const std::int32_t f : initialFrequencies) EXPECT_GE(f, 1);
    EXPECT_EQ(initialFrequencies[0], 1400);
    EXPECT_EQ(initialFrequencies[11], 24);
    EXPECT_EQ(initialFrequencies[15], 20);
    EXPECT_EQ(initialFrequencies[19], 16);
    EXPECT_EQ(initialFrequencies[47], 6);
    EXPECT_EQ(initialFrequencies[133], 3);
    EXPECT_EQ(initialFrequencies[134], 2);
    EXPECT_EQ(initialFrequencies[256], 2);
}

TEST(FrequencyModel, StateAfterInit) {
    ScopedModel model;
    ASSERT_TRUE(model.init());
    const FrequencyModel& m = model.m;
    EXPECT_EQ(m.symbolCount, 257);
    EXPECT_EQ(m.targetInterval, 2000);
    EXPECT_EQ(m.lookupShift, 5);
    EXPECT_EQ(m.interval, 36);
    EXPECT_EQ(m.step, 55);
    EXPECT_EQ(m.deferredUpdates, 15);
    EXPECT_EQ(m.untilRescale, 21);
    EXPECT_EQ(m.cumFreq[0], 0);
    EXPECT_EQ(m.cumFreq[1], 1400);
    EXPECT_EQ(m.cumFreq[2], 2040);
    EXPECT_EQ(m.cumFreq[256], 4094);
    EXPECT_EQ(m.cumFreq[257], 4096);
    EXPECT_EQ(m.accumFreq[0], 701);
    EXPECT_EQ(m.accumFreq[256], 1);
    // The first period must add back what the halving took away.
    EXPECT_EQ(accumulatorSum(m), 2101);
    EXPECT_EQ(m.step * m.interval + m.deferredUpdates, 1995);
    for (std::int32_t s = 0; s < kModelSymbols; ++s) {
        EXPECT_EQ(frequencyOf(m, s), initialFrequencies[s]) << "symbol " << s;
    }
}

TEST(FrequencyModel, LookupTableAndFindSymbolAfterInit) {
    ScopedModel model;
    ASSERT_TRUE(model.init());
    const FrequencyModel& m = model.m;
    for (int j = 0; j <= 43; ++j) EXPECT_EQ(m.lookupTable[j], 0) << "entry " << j;
    EXPECT_EQ(m.lookupTable[44], 1);
    EXPECT_EQ(m.lookupTable[127], 241);
    EXPECT_EQ(m.lookupTable[128], 256);

    EXPECT_EQ(tavrine::modelFindSymbol(&m, 0), 0);
    EXPECT_EQ(tavrine::modelFindSymbol(&m, 1399), 0);
    EXPECT_EQ(tavrine::modelFindSymbol(&m, 1400), 1);
    EXPECT_EQ(tavrine::modelFindSymbol(&m, 2039), 1);
    EXPECT_EQ(tavrine::modelFindSymbol(&m, 4093), 255);
    EXPECT_EQ(tavrine::modelFindSymbol(&m, 4094), 256);
    EXPECT_EQ(tavrine::modelFindSymbol(&m, 4095), 256);
    expectFindSymbolAgreesWithTable(m);
}

TEST(FrequencyModel, FirstPeriodAddsStepThenStepPlusOneAndRebuildsOnThe37thUpdate) {
    ScopedModel model;
    ASSERT_TRUE(model.init());
    FrequencyModel& m = model.m;
    const std::vector<std::uint16_t> startingTable = codingTable(m);
    constexpr std::int32_t kSymbol = 3;
    for (int update = 1; update <= 36; ++update) {
        const std::int32_t before = m.accumFreq[kSymbol];
        tavrine::modelUpdate(&m, kSymbol);
        EXPECT_EQ(m.accumFreq[kSymbol] - before, update <= 21 ? 55 : 56) << "update " << update;
        EXPECT_EQ(m.interval, 36);
        EXPECT_EQ(codingTable(m), startingTable) << "update " << update;
    }
    EXPECT_EQ(accumulatorSum(m), kModelTotal);
    const std::vector<std::uint16_t> periodCounts = accumulators(m);

    tavrine::modelUpdate(&m, kSymbol);
    EXPECT_EQ(m.interval, 72);
    // The period's counts are the new coding frequencies.
    for (std::int32_t s = 0; s < kModelSymbols; ++s) {
        EXPECT_EQ(frequencyOf(m, s), periodCounts[s]) << "symbol " << s;
    }
    expectFindSymbolAgreesWithTable(m);
}

// A period ends when the accumulators are back at the total; the update after
// that rebuilds the coding table from them.
std::vector<int> periodLengths(FrequencyModel& m, std::mt19937& rng, bool skewed, int periods) {
    std::geometric_distribution<int> skew(0.3);
    std::uniform_int_distribution<int> uniform(0, 255);
    std::vector<int> lengths;
    int updates = 0;
    int period = 0;
    while (static_cast<int>(lengths.size()) < periods) {
        const int symbol = skewed ? std::min(skew(rng), 255) : uniform(rng);
        tavrine::modelUpdate(&m, symbol);  // the first update of a period rebuilds
        EXPECT_EQ(frequencyOf(m, tavrine::kEndOfBlock), period == 0 ? 2 : 1) << "period " << period;
        ++updates;
        if (accumulatorSum(m) == kModelTotal) {
            lengths.push_back(updates);
            updates = 0;
            ++period;
        }
    }
    return lengths;
}

TEST(FrequencyModel, PeriodsDoubleUpToTheTargetWhateverIsCoded) {
    const std::vector<int> expected{36, 72, 144, 288, 576, 1152, 2000, 2000, 2000};
    for (const bool skewed : {false, true}) {
        for (unsigned seed = 1; seed <= 3; ++seed) {
            ScopedModel model;
            ASSERT_TRUE(model.init());
            std::mt19937 rng(seed);
            EXPECT_EQ(periodLengths(model.m, rng, skewed, 9), expected)
                << (skewed ? "skewed" : "uniform") << " seed " << seed;
            expectFindSymbolAgreesWithTable(model.m);
        }
    }
}

// The decoder's value-to-symbol index, rebuilt from the same coding table,
// agrees with it on every value it covers.
void expectIndexAgreesWithTable(const FrequencyModel& m) {
    tavrine::ByteSymbolIndex index;
    index.rebuild(m);
    const std::uint32_t first = m.cumFreq[tavrine::ByteSymbolIndex::kFirstSymbol];
    for (std::uint32_t v = first; v < m.cumFreq[tavrine::kEndOfBlock]; ++v) {
        ASSERT_EQ(index.symbolAt(v),
                  static_cast<std::uint32_t>(tavrine::modelFindSymbol(&m, static_cast<std::int32_t>(v))))
            << "value " << v;
    }
}

// Skewed symbols, as move-to-front gives them, and evenly spread ones, whose
// byte symbols take most of the table.
TEST(FrequencyModel, EveryRebuildKeepsFrequenciesPositiveAndTheLookupsExact) {
    for (const bool skewed : {true, false}) {
        ScopedModel model;
        ASSERT_TRUE(model.init());
        FrequencyModel& m = model.m;
        std::mt19937 rng(7);
        std::geometric_distribution<int> skew(0.05);
        std::uniform_int_distribution<int> even(0, 255);
        for (int update = 0; update < 6000; ++update) {
            const std::vector<std::uint16_t> before = codingTable(m);
            tavrine::modelUpdate(&m, skewed ? std::min(skew(rng), 255) : even(rng));
            if (codingTable(m) == before) continue;
            ASSERT_EQ(m.cumFreq[kModelSymbols], kModelTotal);
            for (std::int32_t s = 0; s < kModelSymbols; ++s) ASSERT_GE(frequencyOf(m, s), 1);
            expectFindSymbolAgreesWithTable(m);
            ASSERT_EQ(lookupTable(m), literalLookupTable(m)) << "update " << update;
            expectIndexAgreesWithTable(m);
        }
    }
}

// The coders' rebuilds leave the lookup table stale: the counts and the coding
// table stay modelUpdate's, and a refresh, whenever it comes (after one
// rebuild or several, or on a table already current), gives modelUpdate's
// lookup table.
TEST(FrequencyModel, AStaleLookupTableRefreshesToTheEagerOne) {
    for (const int refreshEvery : {1, 37, 500, 4000}) {
        ScopedModel eager;
        ScopedModel lazy;
        ASSERT_TRUE(eager.init());
        ASSERT_TRUE(lazy.init());
        FrequencyModel& m = lazy.m;
        std::mt19937 rng(11);
        std::geometric_distribution<int> skew(0.1);
        for (int update = 1; update <= 6000; ++update) {
            const int symbol = std::min(skew(rng), 255);
            tavrine::modelUpdate(&eager.m, symbol);
            if (m.untilRescale <= 0) tavrine::modelRescaleLeavingLookup(&m);
            m.untilRescale -= 1;
            m.accumFreq[symbol] = static_cast<std::uint16_t>(m.accumFreq[symbol] + m.step);
            ASSERT_EQ(codingTable(m), codingTable(eager.m)) << "update " << update;
            ASSERT_EQ(accumulators(m), accumulators(eager.m)) << "update " << update;
            if (update % refreshEvery != 0) continue;
            tavrine::modelRefreshLookup(&m);
            ASSERT_EQ(m.lookupStale, 0);
            ASSERT_EQ(lookupTable(m), lookupTable(eager.m))
                << "refresh every " << refreshEvery << ", update " << update;
        }
    }
}

TEST(FrequencyModel, UniformResetSplitsTheTotalWithTheRemainderFirst) {
    ScopedModel model;
    ASSERT_TRUE(model.init());
    FrequencyModel& m = model.m;
    for (int update = 0; update < 100; ++update) tavrine::modelUpdate(&m, update % 7);
    tavrine::modelReset(&m, nullptr);
    // Symbols 0-240 had 16 and 241-256 had 15 when the table was rebuilt.
    for (std::int32_t s = 0; s < kModelSymbols; ++s) {
        EXPECT_EQ(frequencyOf(m, s), s <= 240 ? 16 : 15) << "symbol " << s;
        EXPECT_EQ(m.accumFreq[s], s <= 240 ? 9 : 7) << "symbol " << s;
    }
    EXPECT_EQ(m.cumFreq[241], 3856);
    EXPECT_EQ(m.interval, 36);
    EXPECT_EQ(m.step * m.interval + m.deferredUpdates, kModelTotal - (241 * 9 + 16 * 7));
    EXPECT_EQ(m.untilRescale, m.interval - m.deferredUpdates);
    expectFindSymbolAgreesWithTable(m);
}

TEST(FrequencyModel, TableEntriesCountWithTheirLow16Bits) {
    std::array<std::int32_t, kModelSymbols> wide = initialFrequencies;
    wide[0] += 0x10000;
    wide[5] -= 0x20000;
    ScopedModel fresh;
    ASSERT_TRUE(fresh.init());
    ScopedModel model;
    ASSERT_TRUE(model.init(wide.data()));
    EXPECT_EQ(codingTable(model.m), codingTable(fresh.m));
    EXPECT_EQ(accumulators(model.m), accumulators(fresh.m));
}

TEST(FrequencyModel, ReleaseIsHarmlessTwiceAndOnAZeroedModel) {
    FrequencyModel zeroed{};
    tavrine::modelRelease(&zeroed);
    EXPECT_EQ(zeroed.cumFreq, nullptr);

    ScopedModel model;
    ASSERT_TRUE(model.init());
    tavrine::modelRelease(&model.m);
    EXPECT_EQ(model.m.cumFreq, nullptr);
    EXPECT_EQ(model.m.accumFreq, nullptr);
    EXPECT_EQ(model.m.lookupTable, nullptr);
    tavrine::modelRelease(&model.m);
    EXPECT_EQ(model.m.cumFreq, nullptr);
}

void expectStartingState(const FrequencyModel& m, const FrequencyModel& fresh) {
    EXPECT_EQ(codingTable(m), codingTable(fresh));
    EXPECT_EQ(accumulators(m), accumulators(fresh));
    EXPECT_EQ(m.interval, fresh.interval);
    EXPECT_EQ(m.step, fresh.step);
    EXPECT_EQ(m.untilRescale, fresh.untilRescale);
    EXPECT_EQ(m.deferredUpdates, fresh.deferredUpdates);
}

// A used model returns to its starting state through modelReset with the
// starting table and through modelInit, which releases the old arrays first
// (a leak would show in the sanitizer build).
TEST(FrequencyModel, ResetAndInitOnAUsedModelStartOver) {
    ScopedModel fresh;
    ASSERT_TRUE(fresh.init());
    ScopedModel model;
    ASSERT_TRUE(model.init());
    for (int update = 0; update < 500; ++update) tavrine::modelUpdate(&model.m, update % 11);
    tavrine::modelReset(&model.m, initialFrequencies.data());
    expectStartingState(model.m, fresh.m);
    for (int update = 0; update < 300; ++update) tavrine::modelUpdate(&model.m, update % 5);
    ASSERT_TRUE(model.init());
    expectStartingState(model.m, fresh.m);
}

// The codec's calls copy the starting state made when the library was
// compiled: every field and entry, the lookup table's included, must be
// modelInit's and modelReset's, on a fresh and on a used model; and
// modelInitForCodec takes and gives up its arrays as modelInit does.
TEST(FrequencyModel, CodecInitAndResetEqualTheGeneralCalls) {
    const auto expectSame = [](const FrequencyModel& m, const FrequencyModel& general) {
        expectStartingState(m, general);
        EXPECT_EQ(m.symbolCount, general.symbolCount);
        EXPECT_EQ(m.targetInterval, general.targetInterval);
        EXPECT_EQ(m.lookupShift, general.lookupShift);
        EXPECT_EQ(m.cumFreq[m.symbolCount], kModelTotal);
        EXPECT_EQ(lookupTable(m), lookupTable(general));
    };
    ScopedModel general;
    ASSERT_TRUE(general.init());
    ScopedModel model;
    ASSERT_TRUE(tavrine::modelInitForCodec(&model.m));
    expectSame(model.m, general.m);
    for (int update = 0; update < 3000; ++update) tavrine::modelUpdate(&model.m, update % 13);
    tavrine::modelResetForCodec(&model.m);
    expectSame(model.m, general.m);
    ASSERT_TRUE(tavrine::modelInitForCodec(&model.m));  // releases the arrays it held first
    expectSame(model.m, general.m);

    for (std::uint64_t failing = 1; failing <= 3; ++failing) {
        tavrine::platform::AllocationFault fault(failing);
        EXPECT_FALSE(tavrine::modelInitForCodec(&model.m)) << "allocation " << failing;
        EXPECT_EQ(model.m.cumFreq, nullptr);
        EXPECT_EQ(model.m.accumFreq, nullptr);
        EXPECT_EQ(model.m.lookupTable, nullptr);
    }
}

TEST(FrequencyModel, FailedAllocationLeavesEveryArrayReleased) {
    {
        tavrine::platform::AllocationFault none(1000);
        ScopedModel model;
        ASSERT_TRUE(model.init());
        EXPECT_EQ(none.attempts(), 3u);  // coding table, accumulators, lookup table
    }
    for (std::uint64_t failing = 1; failing <= 3; ++failing) {
        ScopedModel model;
        ASSERT_TRUE(model.init());  // held arrays must go too
        tavrine::platform::AllocationFault fault(failing);
        EXPECT_FALSE(model.init()) << "allocation " << failing;
        EXPECT_EQ(model.m.cumFreq, nullptr);
        EXPECT_EQ(model.m.accumFreq, nullptr);
        EXPECT_EQ(model.m.lookupTable, nullptr);
    }
    ScopedModel model;
    ASSERT_TRUE(model.init());
    EXPECT_EQ(model.m.step, 55);
}

TEST(FrequencyModel, UnsupportedParametersAreRefused) {
    struct Parameters {
        std::int32_t symbols;
        std::int32_t log2Total;
    };
    for (const Parameters p : {Parameters{0, 12}, Parameters{-1, 12}, Parameters{17, 4},
                               Parameters{2, 16}, Parameters{2, -1}}) {
        ScopedModel model;
        ASSERT_TRUE(model.init());
        EXPECT_FALSE(tavrine::modelInit(&model.m, p.symbols, p.log2Total, 100, nullptr, 0))
            << p.symbols << " symbols, log2Total " << p.log2Total;
        EXPECT_EQ(model.m.cumFreq, nullptr);
        EXPECT_EQ(model.m.lookupTable, nullptr);
    }
}

// Totals below 2^7 use a shift of 0 and fewer buckets; the sentinel then sits
// right after the last bucket.
TEST(FrequencyModel, SmallTotalsAndModelsWithoutLookupFindEverySymbol) {
    for (const std::int32_t log2Total : {0, 4, 6, 7, 9, 15}) {
        for (const std::int32_t noLookupTable : {0, 1}) {
            const std::int32_t symbols = std::min(5, 1 << log2Total);
            FrequencyModel m{};
            ASSERT_TRUE(tavrine::modelInit(&m, symbols, log2Total, 40, nullptr, noLookupTable));
            EXPECT_EQ(m.lookupTable == nullptr, noLookupTable != 0);
            for (int update = 0; update < 300; ++update) {
                tavrine::modelUpdate(&m, (update * 7) % symbols);
                if (update % 50 == 0) {
                    expectFindSymbolAgreesWithTable(m);
                    if (noLookupTable == 0) {
                        EXPECT_EQ(lookupTable(m), literalLookupTable(m));
                    }
                }
            }
            tavrine::modelRelease(&m);
        }
    }
}

TEST(FrequencyModelDeathTest, TableNotSummingToTheTotalEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::array<std::int32_t, kModelSymbols> shortTable = initialFrequencies;
    shortTable[5] -= 1;  // symbols 1-256 now leave 1401 for symbol 0's 1400
    EXPECT_EXIT(
        {
            ScopedModel model;
            static_cast<void>(model.init(shortTable.data()));
        },
        ::testing::ExitedWithCode(1), "^BUG: rescaling left 1401 total frequency\n$");

    std::array<std::int32_t, kModelSymbols> longTable = initialFrequencies;
    longTable[0] += 1;
    EXPECT_EXIT(
        {
            ScopedModel model;
            static_cast<void>(model.init(longTable.data()));
        },
        ::testing::ExitedWithCode(1), "^BUG: rescaling left 1400 total frequency\n$");
}

}  // namespace
