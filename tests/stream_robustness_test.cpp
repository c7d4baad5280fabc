// Whole-codec properties: round trips of the samples (and the corpus) and of
// generated inputs,
// prefixes of streams, damaged streams and memory exhaustion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/heap.h"
#include "support/codec_calls.h"
#include "support/test_data.h"
#include "tavrine.h"

namespace {

using namespace tavrine::test;

class RoundTripOf : public InputSetTest {};

TEST_P(RoundTripOf, EveryInputInBothVariants) {
    for (const auto& [name, src] : inputs()) {
        for (const std::uint32_t variant : {0u, 5u}) {
            SCOPED_TRACE(name + ", variant " + std::to_string(variant));
            const Bytes stream = encodeOrFail(src, variant);
            std::uint32_t announced = 0;
            ASSERT_EQ(ZOLT_GetDecodedLength(2, stream.data(), size32(stream), &announced), 1);
            EXPECT_EQ(announced, src.size());
            EXPECT_TRUE(decodeOrFail(stream) == src);
        }
    }
}

TAVRINE_FOR_EACH_INPUT_SET(RoundTripOf);

TEST(RoundTrip, GeneratedInputsOfManyShapes) {
    std::mt19937 rng(2024);
    std::vector<Bytes> inputs;
    for (const std::size_t length : {1u, 2u, 5u, 8191u, 8192u, 8193u, 16385u, 200000u}) {
        inputs.push_back(randomBytes(length, rng));
        inputs.push_back(randomBytes(length, rng, 2));
        inputs.push_back(skewedBytes(length, rng));
        inputs.push_back(Bytes(length, static_cast<std::uint8_t>(length)));
    }
    for (const std::size_t period : {2u, 3u, 7u, 4096u, 8192u}) {
        inputs.push_back(periodicBytes(100000, period, rng));
        inputs.push_back(periodicBytes(100000, period, rng, 256, true));
    }
    for (const Bytes& src : inputs) {
        for (const std::uint32_t variant : {0u, 5u}) {
            const Bytes stream = encodeOrFail(src, variant);
            ASSERT_TRUE(decodeOrFail(stream) == src)
                << src.size() << " bytes, variant " << variant;
        }
    }
}

TEST(RoundTrip, FirstBlocksOfAStreamDecodeToTheFirstPieces) {
    const Bytes src = generateSample(SampleKind::records, 1000000);
    const Bytes stream = encodeOrFail(src, 5);
    const std::vector<std::size_t> offsets = blockOffsets(stream);
    ASSERT_EQ(offsets.back(), stream.size());
    for (std::size_t k = 1; k < offsets.size(); k += 7) {
        const Bytes prefix(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(offsets[k]));
        const std::size_t pieces = std::min(src.size(), k * 8192);
        EXPECT_TRUE(decodeOrFail(prefix) == Bytes(src.begin(), src.begin() + static_cast<std::ptrdiff_t>(pieces)))
            << k << " blocks";
    }
}

// Decodes damaged streams with a capacity below, at and above the announced
// length; only the guard bytes after the capacity are checked, and that the
// call terminates with a sane length word.
void decodeDamaged(const Bytes& stream, std::uint32_t announcedCapacity) {
    for (const std::uint32_t capacity : {announcedCapacity / 2, announcedCapacity, announcedCapacity + 100}) {
        const CallResult call = decodeCall(stream, capacity);
        ASSERT_TRUE(call.guardsIntact()) << "wrote past a capacity of " << capacity;
        if (call.result == 1) {
            std::uint32_t walked = 0;
            EXPECT_EQ(ZOLT_GetDecodedLength(2, stream.data(), size32(stream), &walked), 1);
            EXPECT_EQ(call.length, walked);
        } else {
            EXPECT_LE(call.length, capacity);
        }
    }
}

TEST(Robustness, MutatedStreamsNeverWritePastTheCapacity) {
    std::mt19937 rng(99);
    std::vector<Bytes> streams;
    const Bytes text = sampleText(25000);
    streams.push_back(encodeOrFail(Bytes(text.begin(), text.begin() + 20000), 5));
    streams.push_back(encodeOrFail(Bytes(text.begin(), text.begin() + 9000), 0));
    streams.push_back(encodeOrFail(randomBytes(12000, rng, 3), 5));
    for (const Bytes& stream : streams) {
        const std::uint32_t capacity = 20000;
        for (int round = 0; round < 1500; ++round) {
            Bytes damaged = stream;
            switch (round % 3) {
                case 0: {  // flip one bit
                    const std::size_t at = rng() % damaged.size();
                    damaged[at] = static_cast<std::uint8_t>(damaged[at] ^ (1u << (rng() % 8)));
                    break;
                }
                case 1: {  // overwrite a few bytes, headers included
                    for (int i = 0; i < 3; ++i) damaged[rng() % damaged.size()] = static_cast<std::uint8_t>(rng());
                    break;
                }
                default:  // cut anywhere
                    damaged.resize(rng() % damaged.size() + 1);
                    break;
            }
            decodeDamaged(damaged, capacity);
        }
    }
}

TEST(Robustness, RandomBytesNeverWritePastTheCapacity) {
    std::mt19937 rng(123);
    for (int round = 0; round < 2000; ++round) {
        Bytes garbage = randomBytes(1 + rng() % 300, rng);
        // Give most of them a plausible first header so the payload code runs.
        if (round % 2 == 0 && garbage.size() > 4) {
            garbage[0] = static_cast<std::uint8_t>(garbage.size());
            garbage[1] = 0;
            garbage[3] = 0;
        }
        decodeDamaged(garbage, 1 + static_cast<std::uint32_t>(rng() % 400));
    }
}

TEST(MemoryExhaustion, EveryFailedAllocationFailsTheCallCleanly) {
    const Bytes src = sampleText(3 * 8192 + 100);
    const Bytes piece(src.begin(), src.begin() + 3 * 8192 + 100);
    const Bytes stream = encodeOrFail(piece, 5);
    ASSERT_EQ(decodeOrFail(stream), piece);

    for (const bool decoding : {false, true}) {
        bool succeeded = false;
        for (std::uint64_t k = 1; !succeeded && k < 1000; ++k) {
            CallResult call;
            std::uint64_t attempts = 0;
            {
                const tavrine::platform::AllocationFault fault(k);
                call = decoding ? decodeCall(stream, size32(piece))
                                : encodeCall(piece, 5, maximumEncodedLength(piece.size()));
                attempts = fault.attempts();
            }
            succeeded = attempts < k;  // the k-th allocation never came
            SCOPED_TRACE((decoding ? "decoding, allocation " : "encoding, allocation ") + std::to_string(k));
            if (succeeded) {
                EXPECT_EQ(call.result, 1);
            } else {
                EXPECT_EQ(call.result, 0);
                EXPECT_EQ(call.length, call.capacity);  // untouched
            }
            EXPECT_TRUE(call.guardsIntact());
            // Nothing is left in a bad state: the next call works normally.
            if (decoding) {
                EXPECT_EQ(decodeOrFail(stream), piece);
            } else {
                EXPECT_EQ(encodeOrFail(piece, 5), stream);
            }
        }
        EXPECT_TRUE(succeeded);
    }
}

}  // namespace
