// Whole calls against the codec put together from its straightforward parts:
// the production loops fuse move-to-front into the coder's passes and use the
// fast coder, cursor and inverse sort, and must still give the same result,
// the same stored length and the same output buffer, byte for byte, for
// well-formed streams, tight capacities and damaged streams alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/reference_codec.h"
#include "support/reference_block_sort.h"
#include "support/test_data.h"
#include "tavrine.h"
#include "transform/block_sort.h"

namespace {

using tavrine::test::Bytes;
using tavrine::test::Outcome;

constexpr std::uint32_t kType = 2;

Outcome encodeCall(std::uint32_t variant, const Bytes& src, std::uint32_t capacity) {
    Outcome outcome;
    outcome.buffer.assign(capacity, 0);
    outcome.length = capacity;
    outcome.result = ZOLT_Encode(kType, variant, src.data(), static_cast<std::uint32_t>(src.size()),
                                 outcome.buffer.data(), &outcome.length, nullptr, nullptr);
    if (outcome.length == capacity && outcome.result == 0) {
        outcome.length = tavrine::test::kNotStored;
    }
    return outcome;
}

Outcome decodeCall(const Bytes& stream, std::uint32_t capacity) {
    Outcome outcome;
    outcome.buffer.assign(capacity, 0);
    outcome.length = capacity;
    outcome.result = ZOLT_Decode(kType, stream.data(), static_cast<std::uint32_t>(stream.size()),
                                 outcome.buffer.data(), &outcome.length, nullptr, nullptr);
    if (outcome.length == capacity && outcome.result == 0) {
        outcome.length = tavrine::test::kNotStored;
    }
    return outcome;
}

void expectSame(const Outcome& call, const Outcome& reference, const std::string& where) {
    EXPECT_EQ(call.result, reference.result) << where;
    EXPECT_EQ(call.length, reference.length) << where;
    EXPECT_TRUE(call.buffer == reference.buffer) << where;
}

// The same result and length, and the same complete blocks: the stream of a
// successful call, or the blocks written before the one that failed.
void expectSameEncoding(const Outcome& call, const Outcome& reference, const std::string& where) {
    EXPECT_EQ(call.result, reference.result) << where;
    EXPECT_EQ(call.length, reference.length) << where;
    ASSERT_EQ(call.buffer.size(), reference.buffer.size()) << where;
    EXPECT_TRUE(std::equal(reference.buffer.begin(), reference.buffer.begin() + reference.complete,
                           call.buffer.begin()))
        << where;
}

std::uint32_t maximumEncodedLength(std::size_t srcLen) {
    std::uint32_t bound = 0;
    EXPECT_EQ(ZOLT_GetMaximumEncodedLength(kType, 5, static_cast<std::uint32_t>(srcLen), &bound),
              1);
    return bound;
}

// Pieces of generated samples of several kinds and random inputs, up to a
// few blocks.
std::vector<Bytes> sources() {
    using tavrine::test::SampleKind;
    std::mt19937 rng(41);
    std::vector<Bytes> inputs;
    for (const SampleKind kind : {SampleKind::text, SampleKind::records, SampleKind::runs,
                                  SampleKind::nearlyPeriodic, SampleKind::twoSymbols}) {
        const Bytes text = tavrine::test::generateSample(kind, 200000, 41);
        for (const std::size_t length : {1u, 5u, 300u, 8192u, 8193u, 30000u}) {
            const std::size_t at =
                std::uniform_int_distribution<std::size_t>(0, text.size() - length)(rng);
            inputs.emplace_back(text.begin() + static_cast<std::ptrdiff_t>(at),
                                text.begin() + static_cast<std::ptrdiff_t>(at + length));
        }
    }
    inputs.push_back(tavrine::test::randomBytes(20000, rng));
    inputs.push_back(tavrine::test::randomBytes(20000, rng, 2));
    inputs.push_back(tavrine::test::periodicBytes(2000, 7, rng, 256, true));
    inputs.push_back(Bytes(1500, 0x00));
    return inputs;
}

TEST(StreamDifferential, EncodingMatchesTheStraightforwardCodec) {
    std::mt19937 rng(43);
    int input = 0;
    for (const Bytes& src : sources()) {
        const std::uint32_t bound = maximumEncodedLength(src.size());
        for (const std::uint32_t variant : {0u, 5u}) {
            // Ample room, then capacities that cut the stream somewhere.
            for (const std::uint32_t capacity :
                 {bound, std::uniform_int_distribution<std::uint32_t>(0, bound)(rng),
                  std::uniform_int_distribution<std::uint32_t>(bound / 3, bound / 2)(rng)}) {
                const std::string where =
                    "input " + std::to_string(input) + " of " + std::to_string(src.size()) +
                    " variant " + std::to_string(variant) + " capacity " + std::to_string(capacity);
                expectSameEncoding(encodeCall(variant, src, capacity),
                                   tavrine::test::referenceEncode(variant, src, capacity), where);
            }
        }
        ++input;
    }
}

TEST(StreamDifferential, DecodingMatchesTheStraightforwardCodecOnWellFormedAndDamagedStreams) {
    std::mt19937 rng(47);
    int input = 0;
    for (const Bytes& src : sources()) {
        const Bytes stream = [&] {
            Outcome encoded =
                tavrine::test::referenceEncode(5, src, maximumEncodedLength(src.size()));
            encoded.buffer.resize(encoded.length);
            return encoded.buffer;
        }();
        const auto srcLen = static_cast<std::uint32_t>(src.size());
        const Outcome whole = decodeCall(stream, srcLen);
        EXPECT_EQ(whole.result, 1);
        EXPECT_TRUE(whole.buffer == src);
        for (int trial = 0; trial < 12; ++trial) {
            Bytes damaged = stream;
            const int flips = trial % 4;
            for (int f = 0; f < flips; ++f) {
                // Mostly payload bytes; a flipped header usually ends the stream at once.
                const std::size_t at =
                    std::uniform_int_distribution<std::size_t>(0, damaged.size() - 1)(rng);
                damaged[at] = static_cast<std::uint8_t>(damaged[at] ^ (1u << (trial % 8)));
            }
            if (trial % 3 == 2) {
                damaged.resize(std::uniform_int_distribution<std::size_t>(0, damaged.size())(rng));
            }
            const std::uint32_t capacity =
                trial % 5 == 4 ? std::uniform_int_distribution<std::uint32_t>(0, srcLen)(rng)
                               : srcLen + 64;
            const std::string where =
                "input " + std::to_string(input) + " trial " + std::to_string(trial);
            expectSame(decodeCall(damaged, capacity),
                       tavrine::test::referenceDecode(damaged, capacity), where);
        }
        ++input;
    }
}

// The decoder lends its inverse sort one table for the whole call, which must
// grow when a later block is larger than all before it. The encoder never
// writes blocks above 8192 bytes, so this stream of uncoded blocks is built
// here, move-to-front running on from block to block.
TEST(StreamDifferential, BlocksGrowingWithinACallDecode) {
    std::mt19937 rng(53);
    tavrine::test::PlainMoveToFront table;
    std::vector<std::uint32_t> scratch(tavrine::test::kScratchSlots);
    Bytes stream;
    Bytes source;
    for (const std::size_t length : {5u, 8192u, 20000u, 3u, 32774u, 100u}) {
        const Bytes block = tavrine::test::randomBytes(length, rng, 5);
        Bytes record(length + tavrine::kPrimaryIndexBytes);
        tavrine::test::forwardBlockSortReference(record.data(), block.data(),
                                           static_cast<std::uint32_t>(length), scratch.data());
        for (std::uint8_t& byte : record) byte = static_cast<std::uint8_t>(table.encode(byte));
        const std::size_t size = record.size() + 4;
        stream.insert(stream.end(),
                      {static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
                       static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8)});
        stream.insert(stream.end(), record.begin(), record.end());
        source.insert(source.end(), block.begin(), block.end());
    }
    const auto capacity = static_cast<std::uint32_t>(source.size());
    const Outcome call = decodeCall(stream, capacity);
    EXPECT_EQ(call.result, 1);
    EXPECT_EQ(call.length, capacity);
    EXPECT_TRUE(call.buffer == source);
    expectSame(call, tavrine::test::referenceDecode(stream, capacity), "growing blocks");
}

}  // namespace
