// The fast forward sort against the plain reference sort, record for record:
// every short length, low-entropy, periodic and nearly periodic blocks, runs,
// samples (and the corpus, when configured) in stream-sized pieces, and whole
// streams of the codec.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/heap.h"
#include "stream/codec_context.h"
#include "support/codec_calls.h"
#include "support/reference_block_sort.h"
#include "support/reference_codec.h"
#include "support/test_data.h"
#include "transform/block_sort.h"
#include "transform/block_sorter.h"
#include "transform/broken_period_sort.h"
#include "transform/rotation_sort.h"
#include "transform/short_block_sort.h"

namespace {

using tavrine::BlockSorter;
using tavrine::kPrimaryIndexBytes;
using tavrine::test::Bytes;
using tavrine::test::toHex;

constexpr std::size_t kStreamBlock = 8192;

std::uint32_t length32(const Bytes& bytes) { return static_cast<std::uint32_t>(bytes.size()); }

// Compares records of many blocks against the reference, reusing one sorter
// the way an encode call does.
class Differential {
public:
    Differential() : scratch_(tavrine::test::kScratchSlots) {}

    Bytes reference(const Bytes& block) {
        Bytes record(block.size() + kPrimaryIndexBytes);
        tavrine::test::forwardBlockSortReference(record.data(), block.data(), length32(block),
                                           scratch_.data());
        return record;
    }

    Bytes fast(const Bytes& block) {
        Bytes record(block.size() + kPrimaryIndexBytes);
        sorter_.sort(record.data(), block.data(), length32(block));
        return record;
    }

    // Counts the blocks compared; reports a mismatch with the block's shape.
    void expectSame(const Bytes& block, const std::string& what) {
        ++compared_;
        const Bytes expected = reference(block);
        const Bytes actual = fast(block);
        if (expected == actual) return;
        ADD_FAILURE() << what << ", " << block.size() << " bytes: records differ"
                      << (block.size() <= 64 ? "\n  block     " + toHex(block) : std::string())
                      << "\n  reference " << toHex(front(expected)) << "\n  fast      "
                      << toHex(front(actual));
    }

    std::size_t compared() const { return compared_; }

private:
    // The first bytes of a record, enough to show where two differ.
    static Bytes front(const Bytes& record) {
        constexpr std::ptrdiff_t kShown = 40;
        return Bytes(record.begin(),
                     record.begin() + std::min(kShown, static_cast<std::ptrdiff_t>(record.size())));
    }

    std::vector<std::uint32_t> scratch_;
    BlockSorter sorter_;
    std::size_t compared_ = 0;
};

// A pattern repeated over `length` bytes; the last period may be cut short.
Bytes repeatPattern(const Bytes& pattern, std::size_t length) {
    Bytes out(length);
    for (std::size_t i = 0; i < length; ++i) out[i] = pattern[i % pattern.size()];
    return out;
}

struct RunShape {
    std::size_t longest;  // run length
    unsigned alphabet;    // byte values used
};

// Runs of random bytes with random lengths up to shape.longest.
Bytes runsOf(std::size_t length, RunShape shape, std::mt19937& rng) {
    Bytes out;
    std::uniform_int_distribution<std::size_t> run(1, shape.longest);
    std::uniform_int_distribution<unsigned> value(0, shape.alphabet - 1);
    while (out.size() < length) out.insert(out.end(), run(rng), static_cast<std::uint8_t>(value(rng)));
    out.resize(length);
    return out;
}

TEST(FastBlockSort, EveryLengthUpTo300) {
    std::mt19937 rng(1);
    Differential diff;
    for (std::size_t n = 1; n <= 300; ++n) {
        const std::string at = "length " + std::to_string(n);
        diff.expectSame(tavrine::test::randomBytes(n, rng), at + ", random");
        for (const unsigned alphabet : {2u, 3u, 4u}) {
            diff.expectSame(tavrine::test::randomBytes(n, rng, alphabet), at + ", low entropy");
        }
        diff.expectSame(Bytes(n, 0x00), at + ", zeros");
        diff.expectSame(Bytes(n, 0xFF), at + ", 0xFF bytes");
        diff.expectSame(runsOf(n, {9, 3}, rng), at + ", runs");
        // Periods that do and do not divide n, exact and with a changed last byte.
        for (const std::size_t period : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{4},
                                         std::size_t{5}, std::size_t{6}, n / 2 + 1, n / 3 + 1}) {
            if (period == 0 || period > n) continue;
            for (const unsigned alphabet : {2u, 256u}) {
                const Bytes pattern = tavrine::test::randomBytes(period, rng, alphabet);
                Bytes block = repeatPattern(pattern, n);
                diff.expectSame(block, at + ", period " + std::to_string(period));
                block.back() = static_cast<std::uint8_t>(block.back() + 1);
                diff.expectSame(block, at + ", broken period " + std::to_string(period));
            }
        }
        // Every divisor of n as a period: the tie order of each periodic shape.
        for (std::size_t period = 1; period < n; ++period) {
            if (n % period != 0 || n > 120) continue;
            diff.expectSame(repeatPattern(tavrine::test::randomBytes(period, rng, 3), n),
                            at + ", dividing period " + std::to_string(period));
        }
    }
    EXPECT_GE(diff.compared(), 10000u);
}

TEST(FastBlockSort, LowEntropyAndRunsAtStreamSizes) {
    std::mt19937 rng(2);
    Differential diff;
    for (const std::size_t n : {1000u, 4097u, 8192u}) {
        for (const unsigned alphabet : {2u, 3u, 4u}) {
            diff.expectSame(tavrine::test::randomBytes(n, rng, alphabet), "low entropy");
        }
        diff.expectSame(tavrine::test::skewedBytes(n, rng), "skewed");
        diff.expectSame(runsOf(n, {300, 4}, rng), "long runs");
        diff.expectSame(runsOf(n, {20, 256}, rng), "short runs");
        diff.expectSame(tavrine::test::randomBytes(n, rng), "random");
    }
}

TEST(FastBlockSort, PeriodicAndNearlyPeriodicBlocks) {
    std::mt19937 rng(3);
    Differential diff;
    const std::vector<std::size_t> periods = {1, 2, 3, 4, 5, 7, 8, 12, 13, 26, 31, 64, 100, 127,
                                              256, 1000, 1024, 2730, 4095, 4096};
    for (const std::size_t n : {1200u, 8192u}) {
        for (const std::size_t period : periods) {
            if (period >= n) continue;
            for (const unsigned alphabet : {2u, 4u, 256u}) {
                const std::string what = "period " + std::to_string(period) + " over " +
                                         std::to_string(alphabet) + " symbols";
                const Bytes pattern = tavrine::test::randomBytes(period, rng, alphabet);
                Bytes block = repeatPattern(pattern, n);
                diff.expectSame(block, what);
                // One changed byte anywhere: primitive, with very long common prefixes.
                Bytes broken = block;
                const std::size_t at = std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
                broken[at] = static_cast<std::uint8_t>(broken[at] ^ 1);
                diff.expectSame(broken, what + ", one byte changed");
                broken = block;
                broken.back() = static_cast<std::uint8_t>(broken.back() + 1);
                diff.expectSame(broken, what + ", last byte changed");
            }
        }
    }
    // Periodic blocks whose repeated string has its own long repeats.
    for (const std::size_t inner : {3u, 7u}) {
        Bytes pattern = repeatPattern(tavrine::test::randomBytes(inner, rng, 3), 511);
        pattern.back() = static_cast<std::uint8_t>(pattern.back() + 1);
        diff.expectSame(repeatPattern(pattern, 8176), "nested period " + std::to_string(inner));
    }
    // Where rotation 0 stands among its identical rotations follows runs of
    // falling bytes to the first rise, and then the exchanges in that bucket:
    // long falls, falls into byte 0, rises at the start, repeated bytes.
    for (const std::size_t fall : {1u, 2u, 5u, 40u, 255u}) {
        for (const std::uint8_t bottom : {std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{77}}) {
            Bytes pattern;
            for (std::size_t k = 0; k < fall; ++k) pattern.push_back(static_cast<std::uint8_t>(bottom + fall - k));
            pattern.push_back(bottom);
            pattern.push_back(static_cast<std::uint8_t>(bottom + 3));
            pattern.push_back(static_cast<std::uint8_t>(bottom + 1));
            for (const std::size_t rotate : {0u, 1u, 3u}) {
                Bytes u(pattern.begin() + static_cast<std::ptrdiff_t>(rotate % pattern.size()), pattern.end());
                u.insert(u.end(), pattern.begin(), pattern.begin() + static_cast<std::ptrdiff_t>(rotate % pattern.size()));
                for (const std::size_t copies : {2u, 5u, 64u}) {
                    diff.expectSame(repeatPattern(u, u.size() * copies),
                                    "fall of " + std::to_string(fall) + " repeated " + std::to_string(copies));
                }
            }
        }
    }
}

// Words built to defeat comparison sorting: self-similar words whose
// rotations share prefixes of thousands of bytes, periods broken in the middle
// or behind a noisy start, mutated copies of one chunk, sparse markers.
Bytes fibonacciWord(std::size_t length) {
    std::string previous = "a";
    std::string word = "ab";
    while (word.size() < length) {
        std::string next = word;
        next += previous;
        previous = std::exchange(word, std::move(next));
    }
    return Bytes(word.begin(), word.begin() + static_cast<std::ptrdiff_t>(length));
}

Bytes thueMorseWord(std::size_t length) {
    Bytes word(length);
    for (std::size_t i = 0; i < length; ++i) {
        std::size_t ones = 0;
        for (std::size_t v = i; v != 0; v >>= 1) ones += v & 1;
        word[i] = static_cast<std::uint8_t>('a' + ones % 2);
    }
    return word;
}

TEST(FastBlockSort, WordsThatDefeatComparisonSorts) {
    std::mt19937 rng(8);
    Differential diff;
    for (const std::size_t n : {300u, 2049u, 8192u}) {
        diff.expectSame(fibonacciWord(n), "Fibonacci word");
        Bytes word = thueMorseWord(n);
        diff.expectSame(word, "Thue-Morse word");
        word[n / 2] = 'c';
        diff.expectSame(word, "Thue-Morse word with a third letter");
        for (const std::size_t period : {2u, 5u, 65u, 255u, 1000u}) {
            if (period * 2 > n) continue;
            const Bytes pattern = tavrine::test::randomBytes(period, rng);
            Bytes block = repeatPattern(pattern, n);
            block[n / 2] = static_cast<std::uint8_t>(block[n / 2] ^ 1);
            diff.expectSame(block, "period " + std::to_string(period) + " broken in the middle");
            block = repeatPattern(pattern, n);
            for (std::size_t i = 0; i < 64; ++i) block[i] = static_cast<std::uint8_t>(rng());
            diff.expectSame(block, "period " + std::to_string(period) + " behind noise");
        }
        for (const std::size_t chunk : {64u, 256u}) {
            Bytes block = repeatPattern(tavrine::test::randomBytes(chunk, rng), n);
            for (std::size_t at = 0; at + chunk <= n; at += chunk) {
                block[at + rng() % chunk] = static_cast<std::uint8_t>(rng());
            }
            diff.expectSame(block, "mutated copies of " + std::to_string(chunk) + " bytes");
        }
        Bytes sparse(n);
        for (std::size_t i = 0; i < n; ++i) {
            sparse[i] = static_cast<std::uint8_t>(i % 3 == 2 && rng() % 100 == 0 ? 3 : i % 3);
        }
        diff.expectSame(sparse, "period 3 with sparse markers");
        Bytes ramp(n);
        for (std::size_t i = 0; i < n; ++i) ramp[i] = static_cast<std::uint8_t>(i);
        diff.expectSame(ramp, "byte ramp");
        for (std::size_t i = 0; i < n; ++i) ramp[i] = static_cast<std::uint8_t>(i / 32);
        diff.expectSame(ramp, "staircase");
    }
}

TEST(FastBlockSort, LargestBlocksAndChangingLengths) {
    std::mt19937 rng(4);
    Differential diff;
    // The sorter's tables grow for a longer block and serve every shorter one after it.
    diff.expectSame(tavrine::test::randomBytes(100, rng), "short first");
    diff.expectSame(tavrine::test::randomBytes(65536, rng), "maximal random");
    diff.expectSame(tavrine::test::randomBytes(65536, rng, 2), "maximal binary");
    Bytes mostlyZero(65536);
    std::bernoulli_distribution one(0.2);
    for (auto& b : mostlyZero) b = one(rng) ? 1 : 0;
    diff.expectSame(mostlyZero, "maximal mostly zero");
    diff.expectSame(repeatPattern(tavrine::test::randomBytes(7, rng, 256), 65536), "maximal period 7");
    diff.expectSame(repeatPattern(tavrine::test::randomBytes(32768, rng, 256), 65536),
                    "maximal period 32768");
    diff.expectSame(tavrine::test::randomBytes(8192, rng, 3), "shorter again");
    // Blocks that take the induced sort and the periodic path, after the
    // largest tables: the workspace is carved for each block by its length.
    for (const std::size_t n : {5000u, 300u, 8192u, 17u}) {
        Bytes broken = repeatPattern(tavrine::test::randomBytes(5, rng, 256), n);
        broken[n / 2] = static_cast<std::uint8_t>(broken[n / 2] + 1);
        diff.expectSame(broken, "shorter, period 5 with a changed byte");
        diff.expectSame(fibonacciWord(n), "shorter, Fibonacci word");
        diff.expectSame(repeatPattern(tavrine::test::randomBytes(n / 4 + 1, rng, 3), 4 * (n / 4 + 1)),
                        "shorter, four copies");
    }
}

class FastBlockSortOn : public tavrine::test::InputSetTest {};

TEST_P(FastBlockSortOn, InputsInStreamSizedPieces) {
    Differential diff;
    for (const auto& [name, data] : inputs()) {
        for (std::size_t at = 0; at < data.size(); at += kStreamBlock) {
            const std::size_t length = std::min(kStreamBlock, data.size() - at);
            diff.expectSame(Bytes(data.begin() + static_cast<std::ptrdiff_t>(at),
                                  data.begin() + static_cast<std::ptrdiff_t>(at + length)),
                            name + " at " + std::to_string(at));
        }
    }
    EXPECT_GE(diff.compared(), 400u);
}

// Every method of the primitive rotation sort, each on its own, gives the one
// order of a primitive block; the comparison and short-block sorts give up on
// long repeats.
class RotationMethods {
public:
    explicit RotationMethods(const Bytes& block) : n_(length32(block)) {
        doubled_.resize(2 * block.size() + tavrine::kDoubledPadding);
        for (std::size_t i = 0; i < doubled_.size(); ++i) doubled_[i] = block[i % block.size()];
        rows_.resize(block.size() + 1);
        seeds_.resize(tavrine::rotationSortSeedSlots(n_));
        work_.resize(tavrine::rotationSortWorkWords(n_));
        spare_.resize(tavrine::rotationSortSpareStarts(n_));
        workBytes_.resize(tavrine::rotationSortWorkBytes(n_));
    }

    // The rows; the last column and the primary index must agree with them.
    std::vector<std::uint32_t> byInduction() {
        return checkedRows(tavrine::sortPrimitiveRotationsByInduction);
    }

    // Empty when the comparison sort gave up.
    std::vector<std::uint32_t> byComparison() {
        return checkedRows(tavrine::sortPrimitiveRotationsByComparison);
    }

    // Empty when the short-block sort gave up.
    std::vector<std::uint32_t> byShortSort() { return checkedRows(tavrine::sortShortBlockRotations); }

    // Empty when the block has no short period to go by.
    std::vector<std::uint32_t> byBrokenPeriod() { return checkedRows(tavrine::sortBrokenPeriodRotations); }

private:
    using Method = std::uint32_t (*)(const tavrine::RotationWorkspace&, std::uint32_t) noexcept;

    tavrine::RotationWorkspace workspace(std::uint8_t* lastColumn) {
        return {doubled_.data(), rows_.data(), seeds_.data(), work_.data(), spare_.data(),
                workBytes_.data(), lastColumn};
    }

    // Runs the method once for the rows and once for the last column, which
    // it may write instead of keeping the rows; the two runs must agree.
    std::vector<std::uint32_t> checkedRows(Method method) {
        const std::uint32_t primaryIndex = method(workspace(nullptr), n_);
        if (primaryIndex == tavrine::kSortAbandoned) return {};
        const std::vector<std::uint32_t> rows(rows_.begin(), rows_.begin() + n_);
        Bytes lastColumn(n_);
        EXPECT_EQ(method(workspace(lastColumn.data()), n_), primaryIndex);
        EXPECT_LT(primaryIndex, n_);
        if (primaryIndex < n_) {
            EXPECT_EQ(rows[primaryIndex], 0u);
        }
        for (std::uint32_t i = 0; i < n_; ++i) {
            EXPECT_EQ(lastColumn[i], doubled_[rows[i] + n_ - 1]) << "row " << i;
        }
        return rows;
    }

    std::uint32_t n_;
    Bytes doubled_;
    std::vector<tavrine::RotationStart> rows_;
    std::vector<tavrine::RotationStart> seeds_;
    std::vector<std::uint32_t> work_;
    std::vector<tavrine::RotationStart> spare_;
    Bytes workBytes_;
};

// The sorted rotation starts of the reference record's order, recovered by
// brute force for small primitive blocks.
std::vector<std::uint32_t> naiveRotationOrder(const Bytes& block) {
    const std::size_t n = block.size();
    std::vector<std::uint32_t> rows(n);
    for (std::uint32_t s = 0; s < n; ++s) rows[s] = s;
    std::sort(rows.begin(), rows.end(), [&](std::uint32_t s, std::uint32_t t) {
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint8_t a = block[(s + k) % n];
            const std::uint8_t b = block[(t + k) % n];
            if (a != b) return a < b;
        }
        return false;
    });
    return rows;
}

bool isPrimitive(const Bytes& block) {
    const std::size_t n = block.size();
    for (std::size_t period = 1; period < n; ++period) {
        if (n % period != 0) continue;
        bool repeats = true;
        for (std::size_t i = period; i < n && repeats; ++i) repeats = block[i] == block[i - period];
        if (repeats) return false;
    }
    return true;
}

TEST(PrimitiveRotationSort, EveryMethodGivesTheOneOrder) {
    std::mt19937 rng(5);
    std::size_t checked = 0;
    std::size_t shortSorted = 0;
    for (std::size_t n = 1; n <= 200; ++n) {
        for (const unsigned alphabet : {2u, 3u, 256u}) {
            for (const bool periodic : {false, true}) {
                Bytes block = periodic ? tavrine::test::periodicBytes(n, 1 + n / 7, rng, alphabet, true)
                                       : tavrine::test::randomBytes(n, rng, alphabet);
                if (!isPrimitive(block)) continue;
                SCOPED_TRACE(toHex(block));
                const std::vector<std::uint32_t> expected = naiveRotationOrder(block);
                RotationMethods methods(block);
                EXPECT_EQ(methods.byInduction(), expected);
                const std::vector<std::uint32_t> compared = methods.byComparison();
                if (!compared.empty()) {
                    EXPECT_EQ(compared, expected);
                }
                if (n <= tavrine::kShortBlockLength) {
                    const std::vector<std::uint32_t> direct = methods.byShortSort();
                    if (!direct.empty()) {
                        EXPECT_EQ(direct, expected);
                        ++shortSorted;
                    }
                }
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 1000u);
    // Most short blocks are sorted directly; only long repeats are given up.
    EXPECT_GT(shortSorted, 250u);
}

// The shortest period of a block, by brute force; n when it has none.
std::size_t shortestPeriodOf(const Bytes& block) {
    const std::size_t n = block.size();
    for (std::size_t period = 1; period < n; ++period) {
        if (std::equal(block.begin() + static_cast<std::ptrdiff_t>(period), block.end(), block.begin())) {
            return period;
        }
    }
    return n;
}

TEST(PrimitiveRotationSort, BrokenPeriodsOrderedByPhase) {
    std::mt19937 rng(8);
    std::size_t sorted = 0;
    std::vector<std::size_t> periods;
    for (std::size_t period = 2; period <= 40; ++period) periods.push_back(period);
    constexpr std::size_t kLongest = tavrine::kLongestBrokenPeriod;
    for (const std::size_t longest : {kLongest, kLongest + 1}) {
        periods.insert(periods.end(), {longest / 2 - 1, longest - 1, longest});
    }
    for (const std::size_t period : periods) {
        std::uniform_int_distribution<std::size_t> extra(0, 6 * period);
        for (const std::size_t n : {2 * period - 1, 2 * period + 1, 3 * period - 1, 5 * period + 2,
                                    2 * period + extra(rng), 3 * period + extra(rng)}) {
            for (const unsigned alphabet : {2u, 3u, 256u}) {
                Bytes block = repeatPattern(tavrine::test::randomBytes(period, rng, alphabet), n);
                if (!isPrimitive(block)) continue;
                SCOPED_TRACE(toHex(block));
                const std::size_t shortest = shortestPeriodOf(block);
                const bool expectSorted = shortest <= tavrine::kLongestBrokenPeriod && 2 * shortest <= n;
                const std::vector<std::uint32_t> rows = RotationMethods(block).byBrokenPeriod();
                ASSERT_EQ(!rows.empty(), expectSorted) << "shortest period " << shortest;
                if (expectSorted) {
                    EXPECT_EQ(rows, naiveRotationOrder(block));
                    ++sorted;
                }
            }
        }
    }
    EXPECT_GT(sorted, 300u);
}

TEST(PrimitiveRotationSort, InducedSortOnSamples) {
    using tavrine::test::SampleKind;
    Differential diff;
    for (const SampleKind kind : {SampleKind::text, SampleKind::runs, SampleKind::records,
                                  SampleKind::nearlyPeriodic}) {
        const std::string file(tavrine::test::sampleKindName(kind));
        const Bytes data = tavrine::test::generateSample(kind, 400000);
        for (std::size_t at = 0; at + kStreamBlock <= data.size(); at += 5 * kStreamBlock) {
            const Bytes block(data.begin() + static_cast<std::ptrdiff_t>(at),
                              data.begin() + static_cast<std::ptrdiff_t>(at + kStreamBlock));
            if (!isPrimitive(block)) continue;
            const Bytes record = diff.reference(block);
            const std::vector<std::uint32_t> rows = RotationMethods(block).byInduction();
            Bytes lastColumn(block.size());
            std::uint32_t primaryIndex = 0;
            for (std::size_t i = 0; i < rows.size(); ++i) {
                lastColumn[i] = block[(rows[i] + block.size() - 1) % block.size()];
                if (rows[i] == 0) primaryIndex = static_cast<std::uint32_t>(i);
            }
            EXPECT_EQ(primaryIndex, record[0] | (record[1] << 8)) << file << " at " << at;
            EXPECT_TRUE(std::equal(lastColumn.begin(), lastColumn.end(), record.begin() + kPrimaryIndexBytes))
                << file << " at " << at;
        }
    }
}

TEST(PrimitiveRotationSort, LongRepeatsGoToTheInducedSort) {
    // Common prefixes of thousands of bytes, which the comparison sort must
    // not chase: periods that do not divide the block, periods with one changed
    // byte, self-similar words.
    std::mt19937 rng(6);
    for (const std::size_t period : {2u, 3u, 7u, 26u, 100u}) {
        Bytes block = repeatPattern(tavrine::test::randomBytes(period, rng, 256), kStreamBlock);
        if (kStreamBlock % period == 0) block.back() = static_cast<std::uint8_t>(block.back() ^ 1);
        ASSERT_TRUE(isPrimitive(block));
        EXPECT_TRUE(RotationMethods(block).byComparison().empty()) << "period " << period;
        block = repeatPattern(tavrine::test::randomBytes(period, rng, 256), kStreamBlock);
        block[kStreamBlock / 2] = static_cast<std::uint8_t>(block[kStreamBlock / 2] ^ 0x80);
        EXPECT_TRUE(RotationMethods(block).byComparison().empty()) << "period " << period << ", one byte changed";
    }
    EXPECT_TRUE(RotationMethods(fibonacciWord(kStreamBlock)).byComparison().empty());
    Bytes thueMorse = thueMorseWord(kStreamBlock);
    thueMorse[100] = 'c';
    EXPECT_TRUE(RotationMethods(thueMorse).byComparison().empty());
    // Runs are placed by induction, not compared, however long they are.
    Bytes run(kStreamBlock, 0x41);
    run[100] = 0x40;
    EXPECT_FALSE(RotationMethods(run).byComparison().empty());
    run[5000] = 0x42;
    EXPECT_FALSE(RotationMethods(run).byComparison().empty());
    // Text stays within it.
    const Bytes text = tavrine::test::sampleText(2 * kStreamBlock);
    const Bytes block(text.begin() + kStreamBlock, text.begin() + 2 * kStreamBlock);
    EXPECT_FALSE(RotationMethods(block).byComparison().empty());
}

// Blocks whose seeds share substrings, so that the induced sort names them
// and sorts the string of names, often over several levels: self-similar
// words, periods with a changed byte, nested periods, runs.
TEST(PrimitiveRotationSort, InducedSortThroughStringsOfNames) {
    std::mt19937 rng(7);
    std::size_t checked = 0;
    const auto check = [&checked](const Bytes& block, const std::string& what) {
        if (!isPrimitive(block)) return;
        SCOPED_TRACE(what + ", " + std::to_string(block.size()) + " bytes");
        EXPECT_EQ(RotationMethods(block).byInduction(), naiveRotationOrder(block));
        ++checked;
    };
    for (std::size_t n = 2; n <= 700; n += 1 + n / 8) {
        check(fibonacciWord(n), "Fibonacci word");
        check(thueMorseWord(n), "Thue-Morse word");
        for (const std::size_t period : {1u, 2u, 3u, 5u, 12u}) {
            if (period >= n) continue;
            for (const unsigned alphabet : {2u, 3u, 256u}) {
                Bytes block = repeatPattern(tavrine::test::randomBytes(period, rng, alphabet), n);
                block[rng() % n] = static_cast<std::uint8_t>(block[rng() % n] + 1);
                check(block, "period " + std::to_string(period) + " with a changed byte");
            }
        }
        Bytes nested = repeatPattern(tavrine::test::randomBytes(3, rng, 2), 1 + n / 4);
        nested.back() = static_cast<std::uint8_t>(nested.back() + 1);
        Bytes block = repeatPattern(nested, n);
        block.front() = static_cast<std::uint8_t>(block.front() + 2);
        check(block, "nested periods");
        check(runsOf(n, {40, 2}, rng), "long runs of two values");
    }
    EXPECT_GT(checked, 500u);
}

// Whether the rows hold every rotation of the block once, in strictly
// ascending order; for a primitive block that is its one sorted order.
bool isSortedOrderOfRotations(const Bytes& block, const std::vector<std::uint32_t>& rows) {
    const std::size_t n = block.size();
    if (rows.size() != n) return false;
    Bytes doubled(block);
    doubled.insert(doubled.end(), block.begin(), block.end());
    std::vector<bool> seen(n, false);
    for (std::size_t i = 0; i < n; ++i) {
        if (rows[i] >= n || seen[rows[i]]) return false;
        seen[rows[i]] = true;
        if (i > 0 && std::memcmp(doubled.data() + rows[i - 1], doubled.data() + rows[i], n) >= 0) return false;
    }
    return true;
}

// The induced sort at the largest block: strings of names up to half the
// block deep, through every level, where the tables are at their fullest.
TEST(PrimitiveRotationSort, InducedSortAtTheLargestBlocks) {
    constexpr std::size_t kLargest = 65536;
    std::mt19937 rng(9);
    std::vector<std::pair<std::string, Bytes>> blocks;
    blocks.emplace_back("Fibonacci word", fibonacciWord(kLargest));
    Bytes thueMorse = thueMorseWord(kLargest);
    thueMorse[kLargest / 3] = 'c';
    blocks.emplace_back("Thue-Morse word with a third letter", thueMorse);
    Bytes broken = repeatPattern(tavrine::test::randomBytes(3, rng, 256), kLargest);
    broken[kLargest / 2] = static_cast<std::uint8_t>(broken[kLargest / 2] ^ 1);
    blocks.emplace_back("period 3 with a changed byte", broken);
    blocks.emplace_back("random binary", tavrine::test::randomBytes(kLargest, rng, 2));
    blocks.emplace_back("text", tavrine::test::sampleText(kLargest));
    for (const auto& [what, block] : blocks) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(isPrimitive(block));
        RotationMethods methods(block);
        const std::vector<std::uint32_t> induced = methods.byInduction();
        EXPECT_TRUE(isSortedOrderOfRotations(block, induced));
        const std::vector<std::uint32_t> compared = methods.byComparison();
        if (!compared.empty()) {
            EXPECT_EQ(compared, induced);
        }
    }
}

// Whole streams: the codec with the fast sort against the codec put together
// from the reference stages.
TEST_P(FastBlockSortOn, StreamsEqualThoseOfTheReferenceStages) {
    for (const auto& [name, data] : inputs()) {
        const Bytes fast = tavrine::test::encodeOrFail(data, 5);
        const tavrine::test::Outcome reference = tavrine::test::referenceEncode(
            5, data, tavrine::test::maximumEncodedLength(data.size()));
        ASSERT_EQ(reference.result, 1) << name;
        EXPECT_TRUE(fast == Bytes(reference.buffer.begin(),
                                  reference.buffer.begin() + reference.length))
            << name;
    }
}

TAVRINE_FOR_EACH_INPUT_SET(FastBlockSortOn);

TEST(FastBlockSortMemory, TablesComeOnceAndNothingRunsWithoutThem) {
    const Bytes block = tavrine::test::ascii("abracadabra");
    const Bytes record = tavrine::test::hex("02 00 72 64 61 72 63 61 61 61 61 62 62");
    Bytes out(record.size());
    // The position table, the work words and the doubled block with the work bytes.
    constexpr std::uint64_t kTables = 3;
    for (std::uint64_t failing = 1; failing <= kTables; ++failing) {
        BlockSorter sorter;
        tavrine::platform::AllocationFault fault(failing);
        EXPECT_THROW(sorter.sort(out.data(), block.data(), length32(block)), std::bad_alloc);
        EXPECT_EQ(sorter.heldBytes(), 0u);
    }
    BlockSorter sorter;
    {
        tavrine::platform::AllocationFault fault(100);
        sorter.sort(out.data(), block.data(), length32(block));
        EXPECT_EQ(out, record);
        EXPECT_EQ(fault.attempts(), kTables);
        // A block no longer than the first takes nothing new.
        const Bytes shorter = tavrine::test::ascii("banana");
        Bytes shorterRecord(shorter.size() + kPrimaryIndexBytes);
        sorter.sort(shorterRecord.data(), shorter.data(), length32(shorter));
        EXPECT_EQ(shorterRecord, tavrine::test::hex("03 00 6E 6E 62 61 61 61"));
        EXPECT_EQ(fault.attempts(), kTables);
    }
    // A longer block that cannot have its tables fails; the sorter then starts over.
    const Bytes longer(5000, 0x41);
    Bytes longerRecord(longer.size() + kPrimaryIndexBytes);
    {
        tavrine::platform::AllocationFault fault(2);
        EXPECT_THROW(sorter.sort(longerRecord.data(), longer.data(), length32(longer)), std::bad_alloc);
    }
    sorter.sort(longerRecord.data(), longer.data(), length32(longer));
    EXPECT_EQ(longerRecord[0], 0);
    EXPECT_EQ(longerRecord[1], 0);
    EXPECT_TRUE(std::equal(longer.begin(), longer.end(), longerRecord.begin() + kPrimaryIndexBytes));
}

}  // namespace
