// The block sort: known records, round trips, the exact order of identical
// rotations against an independent brute-force model, and the inverse on
// arbitrary records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "platform/heap.h"
#include "stream/codec_context.h"
#include "support/reference_block_sort.h"
#include "support/test_data.h"
#include "transform/block_sort.h"

namespace {

using tavrine::CodecContext;
using tavrine::kPrimaryIndexBytes;
using tavrine::test::kScratchSlots;
using tavrine::test::ascii;
using tavrine::test::Bytes;
using tavrine::test::hex;
using tavrine::test::toHex;

constexpr std::size_t kStreamBlock = 8192;

std::uint32_t length32(const Bytes& bytes) { return static_cast<std::uint32_t>(bytes.size()); }

Bytes referenceRecord(const Bytes& block) {
    std::vector<std::uint32_t> scratch(kScratchSlots);
    Bytes record(block.size() + kPrimaryIndexBytes);
    tavrine::test::forwardBlockSortReference(record.data(), block.data(), length32(block),
                                       scratch.data());
    return record;
}

Bytes contextRecord(CodecContext& context, const Bytes& block) {
    Bytes record(block.size() + kPrimaryIndexBytes);
    context.ForwardBlockSort(record.data(), block.data(), length32(block));
    return record;
}

Bytes inverse(const Bytes& record) {
    Bytes block(record.size() - kPrimaryIndexBytes);
    tavrine::test::inverseBlockSortOwnTable(block.data(), record.data(), length32(record));
    return block;
}

std::uint32_t primaryIndexOf(const Bytes& record) {
    return static_cast<std::uint32_t>(record[0]) | (static_cast<std::uint32_t>(record[1]) << 8);
}

Bytes lastColumnOf(const Bytes& record) { return Bytes(record.begin() + kPrimaryIndexBytes, record.end()); }

// Rotation s before rotation t, comparing whole rotations byte by byte.
bool rotationLess(const Bytes& x, std::size_t lhs, std::size_t rhs) {
    const std::size_t n = x.size();
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint8_t a = x[(lhs + k) % n];
        const std::uint8_t b = x[(rhs + k) % n];
        if (a != b) return a < b;
    }
    return false;
}

bool rotationsIdentical(const Bytes& x, std::size_t lhs, std::size_t rhs) {
    return !rotationLess(x, lhs, rhs) && !rotationLess(x, rhs, lhs);
}

// Brute-force model of the record, ties included, built without the exchange
// pass, the merge sort or the induced pass. Buckets by first byte ascending;
// in each, the rotations whose second byte is below the first come first,
// ordered as their successors are; the others keep the order the exchange pass
// leaves them in (walk the bucket in ascending position, append each of them
// to a list, and rotate the list by one at every other rotation met while it
// is not empty) and are then stably sorted by whole rotation.
Bytes modelRecord(const Bytes& x) {
    const std::size_t n = x.size();
    std::vector<std::size_t> order;
    std::vector<std::size_t> rowOf(n);
    for (unsigned b = 0; b < 256; ++b) {
        std::vector<std::size_t> lower;
        std::vector<std::size_t> rest;
        for (std::size_t s = 0; s < n; ++s) {
            if (x[s] != b) continue;
            if (x[(s + 1) % n] < b) {
                lower.push_back(s);
                if (!rest.empty()) std::rotate(rest.begin(), rest.begin() + 1, rest.end());
            } else {
                rest.push_back(s);
            }
        }
        // Successors start with a smaller byte, so their rows are already known.
        std::sort(lower.begin(), lower.end(), [&](std::size_t s, std::size_t t) {
            return rowOf[(s + 1) % n] < rowOf[(t + 1) % n];
        });
        std::stable_sort(rest.begin(), rest.end(),
                         [&](std::size_t s, std::size_t t) { return rotationLess(x, s, t); });
        for (const std::size_t s : lower) order.push_back(s);
        for (const std::size_t s : rest) order.push_back(s);
        for (std::size_t i = order.size() - lower.size() - rest.size(); i < order.size(); ++i) {
            rowOf[order[i]] = i;
        }
    }
    Bytes record(n + kPrimaryIndexBytes);
    record[0] = static_cast<std::uint8_t>(rowOf[0]);
    record[1] = static_cast<std::uint8_t>(rowOf[0] >> 8);
    for (std::size_t i = 0; i < n; ++i) record[kPrimaryIndexBytes + i] = x[(order[i] + n - 1) % n];
    return record;
}

// The sort's record describes a sorted order of the block's rotations: its
// last column is that of the naively sorted rotations (whatever the tie order)
// and its primary index names a row holding a rotation identical to the block.
void expectValidRotationOrder(const Bytes& block) {
    const Bytes record = referenceRecord(block);
    const std::size_t n = block.size();
    std::vector<std::size_t> rows(n);
    for (std::size_t s = 0; s < n; ++s) rows[s] = s;
    std::stable_sort(rows.begin(), rows.end(),
                     [&](std::size_t s, std::size_t t) { return rotationLess(block, s, t); });
    Bytes lastColumn(n);
    for (std::size_t i = 0; i < n; ++i) lastColumn[i] = block[(rows[i] + n - 1) % n];
    EXPECT_EQ(toHex(lastColumnOf(record)), toHex(lastColumn)) << "block " << toHex(block);
    const std::uint32_t primaryIndex = primaryIndexOf(record);
    ASSERT_LT(primaryIndex, n);
    EXPECT_TRUE(rotationsIdentical(block, rows[primaryIndex], 0)) << "block " << toHex(block);
}

// Record invariants and the round trip, for blocks of any size.
void expectRoundTrip(CodecContext& context, const Bytes& block) {
    const Bytes record = contextRecord(context, block);
    ASSERT_EQ(record.size(), block.size() + kPrimaryIndexBytes);
    EXPECT_LT(primaryIndexOf(record), block.size());
    Bytes sortedBlock = block;
    Bytes sortedColumn = lastColumnOf(record);
    std::sort(sortedBlock.begin(), sortedBlock.end());
    std::sort(sortedColumn.begin(), sortedColumn.end());
    EXPECT_TRUE(sortedColumn == sortedBlock) << "last column is not a permutation of the block";
    EXPECT_TRUE(inverse(record) == block) << "round trip of " << block.size() << " bytes";
}

struct KnownRecord {
    Bytes block;
    const char* record;
};

TEST(BlockSort, KnownRecordsByteForByte) {
    const std::vector<KnownRecord> known = {
        {hex("00"), "00 00 00"},
        {ascii("x"), "00 00 78"},
        {hex("FF"), "00 00 FF"},
        {ascii("ab"), "00 00 62 61"},
        {ascii("ba"), "01 00 62 61"},
        {ascii("abab"), "00 00 62 62 61 61"},
        {ascii("baba"), "02 00 62 62 61 61"},
        {ascii("bbabbbab"), "05 00 62 62 62 62 62 62 61 61"},
        {ascii("banana"), "03 00 6E 6E 62 61 61 61"},
        {ascii("abracadabra"), "02 00 72 64 61 72 63 61 61 61 61 62 62"},
    };
    CodecContext context;
    for (const KnownRecord& k : known) {
        SCOPED_TRACE(toHex(k.block));
        EXPECT_EQ(toHex(referenceRecord(k.block)), toHex(hex(k.record)));
        EXPECT_EQ(toHex(contextRecord(context, k.block)), toHex(hex(k.record)));
        EXPECT_EQ(toHex(modelRecord(k.block)), toHex(hex(k.record)));
        EXPECT_EQ(toHex(inverse(hex(k.record))), toHex(k.block));
    }
}

TEST(BlockSort, EitherRowOfAnIdenticalRotationDecodes) {
    // Rotations 0 and 4 of bbabbbab are identical; the sort puts 4 first.
    EXPECT_EQ(inverse(hex("05 00 62 62 62 62 62 62 61 61")), ascii("bbabbbab"));
    EXPECT_EQ(inverse(hex("04 00 62 62 62 62 62 62 61 61")), ascii("bbabbbab"));
}

TEST(BlockSort, AscendingByteValues) {
    Bytes block(256);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i);
    Bytes expected = {0x00, 0x00, 0xFF};
    for (std::size_t i = 0; i < 255; ++i) expected.push_back(static_cast<std::uint8_t>(i));
    CodecContext context;
    const Bytes record = contextRecord(context, block);
    EXPECT_EQ(toHex(record), toHex(expected));
    EXPECT_EQ(inverse(record), block);
}

TEST(BlockSort, EqualBytesKeepAscendingStartOrder) {
    // One bucket of identical rotations, every comparison the full length.
    const Bytes block(kStreamBlock, 0x41);
    CodecContext context;
    const Bytes record = contextRecord(context, block);
    ASSERT_EQ(record.size(), kStreamBlock + kPrimaryIndexBytes);
    EXPECT_EQ(primaryIndexOf(record), 0u);
    EXPECT_TRUE(lastColumnOf(record) == block);
    EXPECT_TRUE(inverse(record) == block);
}

TEST(BlockSort, RandomBlocksRoundTrip) {
    std::mt19937 rng(20240501);
    CodecContext context;
    for (const std::size_t n : {1u, 2u, 3u, 11u, 12u, 13u, 255u, 256u, 4097u, 8192u, 65536u}) {
        SCOPED_TRACE(n);
        expectRoundTrip(context, tavrine::test::randomBytes(n, rng));
    }
}

TEST(BlockSort, LowEntropyBlocksRoundTrip) {
    std::mt19937 rng(7);
    CodecContext context;
    for (const std::size_t n : {2u, 12u, 100u, 4097u, 8192u}) {
        SCOPED_TRACE(n);
        expectRoundTrip(context, tavrine::test::randomBytes(n, rng, 2));
        expectRoundTrip(context, tavrine::test::skewedBytes(n, rng));
    }
    // Bucket 0 holds most of a maximal block, so the merges need large left halves.
    Bytes mostlyZero(65536);
    std::bernoulli_distribution one(0.2);
    for (auto& b : mostlyZero) b = one(rng) ? 1 : 0;
    expectRoundTrip(context, mostlyZero);
}

TEST(BlockSort, PeriodicBlocksRoundTrip) {
    std::mt19937 rng(11);
    CodecContext context;
    std::vector<std::size_t> periods;
    for (std::size_t p = 1; p <= 17; ++p) periods.push_back(p);
    for (const std::size_t p : {24u, 100u}) periods.push_back(p);
    for (const std::size_t period : periods) {
        for (const bool broken : {false, true}) {
            for (const unsigned alphabet : {2u, 256u}) {
                SCOPED_TRACE(testing::Message() << "period " << period << " broken " << broken
                                                << " alphabet " << alphabet);
                expectRoundTrip(context,
                                tavrine::test::periodicBytes(1000, period, rng, alphabet, broken));
            }
        }
    }
    for (const std::size_t period : {1u, 6u, 12u, 24u, 100u}) {
        SCOPED_TRACE(period);
        expectRoundTrip(context, tavrine::test::periodicBytes(kStreamBlock, period, rng, 256, true));
    }
}

TEST(BlockSort, SamplePiecesRoundTrip) {
    using tavrine::test::SampleKind;
    CodecContext context;
    for (const SampleKind kind : {SampleKind::text, SampleKind::records}) {
        const Bytes data = tavrine::test::generateSample(kind, 160000);
        const std::string_view file = tavrine::test::sampleKindName(kind);
        for (std::size_t at = 0; at < data.size(); at += kStreamBlock) {
            SCOPED_TRACE(testing::Message() << file << " at " << at);
            const std::size_t length = std::min(kStreamBlock, data.size() - at);
            expectRoundTrip(context, Bytes(data.begin() + static_cast<std::ptrdiff_t>(at),
                                           data.begin() + static_cast<std::ptrdiff_t>(at + length)));
        }
    }
}

// Small blocks of many shapes, each checked against the naive rotation order
// and against the model's exact tie order.
std::vector<Bytes> smallBlocks() {
    std::mt19937 rng(3);
    std::vector<Bytes> blocks;
    for (std::size_t n = 1; n <= 40; ++n) {
        blocks.push_back(tavrine::test::randomBytes(n, rng));
        blocks.push_back(tavrine::test::randomBytes(n, rng, 2));
        blocks.push_back(tavrine::test::randomBytes(n, rng, 3));
    }
    std::vector<std::size_t> periods;
    for (std::size_t p = 1; p <= 17; ++p) periods.push_back(p);
    for (const std::size_t p : {24u, 100u}) periods.push_back(p);
    for (const std::size_t period : periods) {
        for (const std::size_t length : {period * 2, period * 3 + 1, std::size_t{60}, std::size_t{240}}) {
            for (const unsigned alphabet : {2u, 3u, 256u}) {
                for (const bool broken : {false, true}) {
                    blocks.push_back(
                        tavrine::test::periodicBytes(length, period, rng, alphabet, broken));
                }
            }
        }
    }
    return blocks;
}

TEST(BlockSort, SmallBlocksAreValidRotationOrders) {
    for (const Bytes& block : smallBlocks()) {
        expectValidRotationOrder(block);
        if (testing::Test::HasFatalFailure()) return;
    }
}

TEST(BlockSort, TieOrderMatchesTheBruteForceModel) {
    CodecContext context;
    for (const Bytes& block : smallBlocks()) {
        const std::string expected = toHex(modelRecord(block));
        EXPECT_EQ(toHex(referenceRecord(block)), expected) << "block " << toHex(block);
        EXPECT_EQ(toHex(contextRecord(context, block)), expected) << "block " << toHex(block);
    }
}

TEST(BlockSort, LargePeriodicTieOrderMatchesTheModel) {
    // Buckets of hundreds of identical rotations go through several merge levels.
    std::mt19937 rng(5);
    for (const std::size_t period : {3u, 6u, 12u}) {
        for (const bool broken : {false, true}) {
            const Bytes block = tavrine::test::periodicBytes(1200, period, rng, 2, broken);
            EXPECT_EQ(toHex(referenceRecord(block)), toHex(modelRecord(block)))
                << "period " << period << " broken " << broken;
        }
    }
}

TEST(InverseBlockSort, ArbitraryRecordsDecodeInsideTheirBounds) {
    // Any last column with a primary index below its length decodes to exactly
    // that many bytes; the sanitizer builds catch a read past the successor table.
    std::mt19937 rng(17);
    constexpr std::size_t kGuard = 16;
    constexpr std::uint8_t kSentinel = 0xA5;
    for (const std::size_t m : {1u, 2u, 3u, 100u, 8192u, 65536u}) {
        for (int trial = 0; trial < 4; ++trial) {
            const unsigned alphabet = (trial % 2 == 0) ? 256u : 2u;
            Bytes record = tavrine::test::randomBytes(m + kPrimaryIndexBytes, rng, alphabet);
            const std::size_t primaryIndex =
                trial == 0 ? 0 : trial == 1 ? m - 1 : std::uniform_int_distribution<std::size_t>(0, m - 1)(rng);
            record[0] = static_cast<std::uint8_t>(primaryIndex);
            record[1] = static_cast<std::uint8_t>(primaryIndex >> 8);
            Bytes out(m + kGuard, kSentinel);
            tavrine::test::inverseBlockSortOwnTable(out.data(), record.data(), length32(record));
            EXPECT_TRUE(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(m), out.end(),
                                    [](std::uint8_t b) { return b == kSentinel; }))
                << "wrote past " << m << " bytes";
        }
    }
}

TEST(BlockSortMemory, NoSortRunsWithoutItsTables) {
    const Bytes block = ascii("abracadabra");
    const Bytes record = hex("02 00 72 64 61 72 63 61 61 61 61 62 62");
    {
        tavrine::platform::AllocationFault fault(1);
        EXPECT_THROW(CodecContext{}, std::bad_alloc);
    }
    CodecContext context;
    // The forward sort takes three tables.
    for (const std::uint64_t failing : {1u, 2u, 3u}) {
        tavrine::platform::AllocationFault fault(failing);
        Bytes out(record.size());
        EXPECT_THROW(context.ForwardBlockSort(out.data(), block.data(), length32(block)),
                     std::bad_alloc);
    }
    {
        tavrine::platform::AllocationFault fault(4);  // one past what the sort takes
        EXPECT_EQ(contextRecord(context, block), record);
        EXPECT_EQ(fault.attempts(), 3u);
    }
}

}  // namespace
