// The range coder: exact payloads, bounded output, round trips with the model
// carried from block to block, and damaged payloads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "entropy/range_coder.h"
#include "platform/heap.h"
#include "support/block_coder.h"
#include "support/test_data.h"

namespace {

using tavrine::FrequencyModel;
using RangeCoder = tavrine::test::BlockCoder;
using tavrine::test::Bytes;
using tavrine::test::hex;
using tavrine::test::toHex;

constexpr std::uint32_t kUntouched = 0xDEADBEEF;

std::uint32_t size32(const Bytes& bytes) { return static_cast<std::uint32_t>(bytes.size()); }

// Room for any payload: a symbol never costs more than 13 bits.
std::uint32_t ampleCapacity(std::size_t inLen) {
    return static_cast<std::uint32_t>(2 * inLen + 16);
}

// Encodes with an output capacity that always holds the whole payload.
Bytes encode(RangeCoder& coder, const Bytes& in) {
    Bytes out(ampleCapacity(in.size()));
    std::uint32_t count = kUntouched;
    EXPECT_TRUE(coder.encodeBlock(out.data(), in.data(), size32(out), size32(in), count));
    EXPECT_EQ(count, coder.codedLength());
    out.resize(std::min<std::size_t>(count, out.size()));
    return out;
}

struct Decoded {
    bool ok = false;
    std::uint32_t count = kUntouched;
    Bytes out;
};

// Decodes into an output buffer of exactly outCap bytes.
Decoded decode(RangeCoder& coder, const Bytes& payload, std::uint32_t outCap) {
    Decoded result;
    result.out.resize(outCap);
    result.ok = coder.decodeBlock(result.out.data(), payload.data(), outCap, size32(payload),
                                  result.count);
    if (result.ok && result.count <= outCap) result.out.resize(result.count);
    return result;
}

Bytes readVector(const std::string& name) {
    return tavrine::test::readTestData("vectors/" + name);
}

std::uint32_t trailerLength(const Bytes& payload) {
    const std::size_t n = payload.size();
    return (static_cast<std::uint32_t>(payload[n - 3]) << 16) |
           (static_cast<std::uint32_t>(payload[n - 2]) << 8) | payload[n - 1];
}

void expectSameModel(const FrequencyModel& a, const FrequencyModel& b) {
    ASSERT_NE(a.cumFreq, nullptr);
    ASSERT_NE(b.cumFreq, nullptr);
    EXPECT_EQ(a.symbolCount, b.symbolCount);
    EXPECT_EQ(a.targetInterval, b.targetInterval);
    EXPECT_EQ(a.lookupShift, b.lookupShift);
    EXPECT_EQ(a.untilRescale, b.untilRescale);
    EXPECT_EQ(a.deferredUpdates, b.deferredUpdates);
    EXPECT_EQ(a.interval, b.interval);
    EXPECT_EQ(a.step, b.step);
    EXPECT_TRUE(std::equal(a.cumFreq, a.cumFreq + a.symbolCount + 1, b.cumFreq));
    EXPECT_TRUE(std::equal(a.accumFreq, a.accumFreq + a.symbolCount, b.accumFreq));
    EXPECT_TRUE(std::equal(a.lookupTable, a.lookupTable + tavrine::kLookupEntries, b.lookupTable));
}

Bytes countingUp(std::size_t length) {
    Bytes out(length);
    for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(i);
    return out;
}

TEST(RangeCoder, EncodesTheWorkedPayloadsExactly) {
    struct Example {
        const char* input;
        const char* payload;
    };
    for (const Example e : {Example{"", "00 FF E0 00 00 06"},
                            Example{"00 00 00", "00 0A 38 00 00 06"},
                            Example{"61 62 63", "00 E9 DB E2 3C 3F CA 00 00 0A"}}) {
        RangeCoder coder;
        EXPECT_EQ(toHex(encode(coder, hex(e.input))), e.payload) << "input " << e.input;
    }
}

TEST(RangeCoder, DecodesTheWorkedPayloadAndReadsNoFurther) {
    const Bytes payload = hex("00 E9 DB E2 3C 3F CA 00 00 0A");
    {
        RangeCoder coder;
        const Decoded d = decode(coder, payload, 3);
        EXPECT_TRUE(d.ok);
        EXPECT_EQ(toHex(d.out), "61 62 63");
        EXPECT_EQ(coder.bytesRead(), 10u);
    }
    {
        RangeCoder coder;
        const Decoded d = decode(coder, payload, 2);
        EXPECT_FALSE(d.ok);
        EXPECT_EQ(d.count, kUntouched);
    }
    {
        Bytes followed = payload;
        followed.insert(followed.end(), {0x5A, 0xFF, 0x00});
        RangeCoder coder;
        const Decoded d = decode(coder, followed, 3);
        EXPECT_TRUE(d.ok);
        EXPECT_EQ(toHex(d.out), "61 62 63");
        EXPECT_EQ(coder.bytesRead(), 10u);
    }
    {
        const Bytes cut(payload.begin(), payload.begin() + 6);
        RangeCoder coder;
        const Decoded d = decode(coder, cut, 3);
        EXPECT_TRUE(d.ok);
        EXPECT_EQ(toHex(d.out), "61 62");
        EXPECT_EQ(coder.bytesRead(), 6u);
    }
}

TEST(RangeCoder, PayloadsShorterThanThreeBytesDecodeToNothing) {
    RangeCoder used;
    static_cast<void>(encode(used, hex("07 00 FF 01")));  // leaves state behind
    for (const char* payload : {"", "00", "00 E9"}) {
        RangeCoder fresh;
        for (RangeCoder* coder : {&fresh, &used}) {
            const Decoded d = decode(*coder, hex(payload), 8);
            EXPECT_TRUE(d.ok) << payload;
            EXPECT_EQ(d.count, 0u) << payload;
        }
    }
}

TEST(RangeCoder, OutputCutAtTheCapacityIsThePayloadsPrefix) {
    const Bytes input = [] {
        Bytes b;
        for (int round = 0; round < 4; ++round) {
            const Bytes up = countingUp(256);
            b.insert(b.end(), up.begin(), up.end());
        }
        return b;
    }();
    RangeCoder full;
    const Bytes payload = encode(full, input);
    ASSERT_EQ(payload.size(), 1134u);

    RangeCoder coder;
    Bytes out(50);
    std::uint32_t count = kUntouched;
    ASSERT_TRUE(coder.encodeBlock(out.data(), input.data(), 50, size32(input), count));
    EXPECT_EQ(count, 50u);
    EXPECT_EQ(coder.codedLength(), 1134u);
    EXPECT_EQ(out, Bytes(payload.begin(), payload.begin() + 50));
    // The model learnt every input byte even though the payload was cut.
    expectSameModel(coder.model(), full.model());

    // Cut exactly at the end is complete; one byte less is not.
    for (const std::uint32_t cap : {1133u, 1134u}) {
        RangeCoder c;
        Bytes o(cap);
        ASSERT_TRUE(c.encodeBlock(o.data(), input.data(), cap, size32(input), count));
        EXPECT_EQ(count, cap);
        EXPECT_EQ(c.codedLength() == count, cap == 1134u);
    }
    RangeCoder none;
    ASSERT_TRUE(none.encodeBlock(nullptr, input.data(), 0, size32(input), count));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(none.codedLength(), 1134u);
}

TEST(RangeCoder, VectorsEncodeAndDecodeExactly) {
    for (const char* name : {"coder_flush_tie", "coder_clamp"}) {
        const Bytes input = readVector(std::string(name) + ".in");
        const Bytes expected = readVector(std::string(name) + ".payload");
        ASSERT_FALSE(input.empty()) << name;
        RangeCoder encoder;
        const Bytes payload = encode(encoder, input);
        EXPECT_EQ(toHex(payload), toHex(expected)) << name;

        RangeCoder decoder;
        const Decoded d = decode(decoder, expected, size32(input));
        EXPECT_TRUE(d.ok) << name;
        EXPECT_EQ(d.out, input) << name;
        EXPECT_EQ(decoder.bytesRead(), size32(expected)) << name;
        expectSameModel(decoder.model(), encoder.model());
    }
}

TEST(RangeCoder, EveryPayloadStartsWithZeroAndEndsWithItsLength) {
    std::mt19937 rng(11);
    RangeCoder coder;
    for (const std::size_t length : {0, 1, 2, 5, 17, 100, 1000, 8194}) {
        for (const bool skewed : {false, true}) {
            const Bytes input = skewed ? tavrine::test::skewedBytes(length, rng)
                                       : tavrine::test::randomBytes(length, rng);
            const Bytes payload = encode(coder, input);
            ASSERT_GE(payload.size(), 6u);
            EXPECT_EQ(payload.front(), 0x00);
            EXPECT_EQ(trailerLength(payload), payload.size());
            EXPECT_EQ(coder.codedLength(), payload.size());
        }
    }
}

// The block loops drive both sides alike: the model runs on from block to block
// and starts over after some blocks; extra bytes after a payload stay unread.
TEST(RangeCoder, BlocksRoundTripWithTheModelCarriedAlong) {
    std::mt19937 rng(2024);
    std::uniform_int_distribution<std::size_t> pickLength(0, 20000);
    std::uniform_int_distribution<int> pickKind(0, 3);
    RangeCoder encoder;
    RangeCoder decoder;
    for (int block = 0; block < 40; ++block) {
        const std::size_t length = block < 3 ? static_cast<std::size_t>(block)
                                             : pickLength(rng) / (block % 4 == 0 ? 1 : 8);
        const int kind = pickKind(rng);
        Bytes input;
        if (kind == 0) input = tavrine::test::randomBytes(length, rng);
        if (kind == 1) input = tavrine::test::skewedBytes(length, rng);
        if (kind == 2) input = tavrine::test::randomBytes(length, rng, 3);
        if (kind == 3) input = tavrine::test::periodicBytes(length, 7, rng, 256, true);

        Bytes payload = encode(encoder, input);
        const std::size_t payloadLength = payload.size();
        if (block % 3 == 0) payload.insert(payload.end(), {0x00, 0xFF, 0x80, 0x01});
        const Decoded d = decode(decoder, payload, size32(input));
        ASSERT_TRUE(d.ok) << "block " << block;
        ASSERT_EQ(d.out, input) << "block " << block << " kind " << kind;
        EXPECT_EQ(decoder.bytesRead(), payloadLength) << "block " << block;
        expectSameModel(decoder.model(), encoder.model());
        if (block % 5 == 4) {
            encoder.initModel();
            decoder.initModel();
        }
    }
}

TEST(RangeCoder, LongRunsOfTheCommonestSymbolRoundTrip) {
    // Long stretches of symbol 0 push the interval through many carries and
    // held 0xFF bytes.
    RangeCoder encoder;
    RangeCoder decoder;
    for (const std::size_t length : {1u, 2u, 1000u, 20000u}) {
        const Bytes input(length, 0x00);
        const Bytes payload = encode(encoder, input);
        const Decoded d = decode(decoder, payload, size32(input));
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.out, input) << length;
        EXPECT_EQ(decoder.bytesRead(), payload.size());
    }
}

TEST(RangeCoder, FlushCarryingIntoTheHeldBytesRoundTrips) {
    // Both inputs end with a flush byte past 0xFF: the first carries into the
    // held byte alone, the second also through a held-back 0xFF byte.
    for (const char* input :
         {"03 01 02 01 00",
          "71 7F 65 24 46 65 BF 3A 3B 31 59 7E CC 69 53 59 89 44 E1 5D 80 5A 69 0B C8"}) {
        RangeCoder encoder;
        const Bytes payload = encode(encoder, hex(input));
        RangeCoder decoder;
        const Decoded d = decode(decoder, payload, size32(hex(input)));
        EXPECT_TRUE(d.ok);
        EXPECT_EQ(toHex(d.out), input);
        EXPECT_EQ(decoder.bytesRead(), payload.size());
    }
}

TEST(RangeCoder, DecodingStopsAtTheCapacity) {
    std::mt19937 rng(5);
    const Bytes input = tavrine::test::skewedBytes(300, rng);
    RangeCoder encoder;
    const Bytes payload = encode(encoder, input);
    for (const std::uint32_t cap : {0u, 1u, 299u}) {
        RangeCoder decoder;
        const Decoded d = decode(decoder, payload, cap);
        EXPECT_FALSE(d.ok) << cap;
        EXPECT_EQ(d.count, kUntouched) << cap;
        EXPECT_EQ(Bytes(d.out.begin(), d.out.end()), Bytes(input.begin(), input.begin() + cap));
    }
}

// The model's arrays are obtained when it holds none: at construction and
// after releaseModel. Each failure throws and leaves the model released.
TEST(RangeCoder, ConstructionAndInitModelReportAllocationFailure) {
    for (std::uint64_t failing = 1; failing <= 3; ++failing) {
        tavrine::platform::AllocationFault fault(failing);
        EXPECT_THROW(RangeCoder coder, std::bad_alloc) << "allocation " << failing;
    }
    RangeCoder coder;
    for (std::uint64_t failing = 1; failing <= 3; ++failing) {
        coder.releaseModel();
        {
            tavrine::platform::AllocationFault fault(failing);
            EXPECT_THROW(coder.initModel(), std::bad_alloc) << "allocation " << failing;
        }
        EXPECT_EQ(coder.model().cumFreq, nullptr);
        EXPECT_EQ(coder.model().accumFreq, nullptr);
        EXPECT_EQ(coder.model().lookupTable, nullptr);
    }
    coder.initModel();
    RangeCoder fresh;
    expectSameModel(coder.model(), fresh.model());
}

// A model that holds its arrays starts over in place, from any point of the
// period schedule, into exactly the state of a new coder, and codes on from
// there exactly as a new coder does; initialising twice changes nothing.
TEST(RangeCoder, InitModelStartsOverInPlaceFromAnyState) {
    std::mt19937 rng(17);
    RangeCoder coder;
    for (const std::size_t length : {0u, 1u, 35u, 36u, 37u, 500u, 3000u, 8194u, 20000u}) {
        for (const unsigned alphabet : {3u, 256u}) {
            const std::string where =
                std::to_string(length) + " symbols of " + std::to_string(alphabet);
            encode(coder, tavrine::test::randomBytes(length, rng, alphabet));
            const FrequencyModel before = coder.model();
            for (int again = 0; again < 2; ++again) {
                tavrine::platform::AllocationFault none(1);
                coder.initModel();
                EXPECT_EQ(none.attempts(), 0u) << where;
            }
            EXPECT_EQ(coder.model().cumFreq, before.cumFreq) << where;  // the same arrays
            RangeCoder fresh;
            expectSameModel(coder.model(), fresh.model());
            const Bytes sample = tavrine::test::skewedBytes(3000, rng);
            EXPECT_EQ(encode(coder, sample), encode(fresh, sample)) << where;
        }
    }
}

TEST(RangeCoder, BlockOperationsRefuseAReleasedModel) {
    RangeCoder coder;
    coder.releaseModel();
    coder.releaseModel();
    Bytes out(32, 0xAA);
    const Bytes in = hex("61 62 63");
    std::uint32_t count = kUntouched;
    EXPECT_FALSE(coder.encodeBlock(out.data(), in.data(), size32(out), size32(in), count));
    const Bytes payload = hex("00 E9 DB E2 3C 3F CA 00 00 0A");
    EXPECT_FALSE(
        coder.decodeBlock(out.data(), payload.data(), size32(out), size32(payload), count));
    EXPECT_EQ(count, kUntouched);
    EXPECT_EQ(out, Bytes(32, 0xAA));
    coder.initModel();
    EXPECT_EQ(toHex(encode(coder, in)), "00 E9 DB E2 3C 3F CA 00 00 0A");
}

// Damaged payloads: the decoder stays inside both buffers (exact-size vectors,
// so the sanitizer build catches any stray access), terminates, and never
// reports more bytes than its capacity.
void expectContained(RangeCoder& coder, const Bytes& payload, std::uint32_t outCap) {
    const Decoded d = decode(coder, payload, outCap);
    EXPECT_LE(coder.bytesRead(), payload.size());
    if (d.ok) {
        EXPECT_LE(d.count, outCap);
    } else {
        EXPECT_EQ(d.count, kUntouched);
    }
}

TEST(RangeCoder, RandomBytesDecodeWithinBounds) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<std::size_t> pickLength(0, 300);
    std::uniform_int_distribution<std::uint32_t> pickCap(0, 400);
    RangeCoder coder;  // runs on through all of them, as in a damaged stream
    for (int trial = 0; trial < 400; ++trial) {
        const Bytes payload = tavrine::test::randomBytes(pickLength(rng), rng);
        expectContained(coder, payload, pickCap(rng));
        if (trial % 50 == 49) coder.initModel();
    }
    // Bytes of all ones give the largest values the decoder can meet.
    expectContained(coder, Bytes(64, 0xFF), 1000);
    expectContained(coder, Bytes(64, 0x00), 1000);
}

TEST(RangeCoder, TruncatedAndFlippedPayloadsDecodeWithinBounds) {
    std::mt19937 rng(3);
    const Bytes input = tavrine::test::skewedBytes(400, rng);
    RangeCoder encoder;
    const Bytes payload = encode(encoder, input);
    for (std::size_t length = 0; length <= payload.size(); ++length) {
        RangeCoder decoder;
        const Bytes cut(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(length));
        expectContained(decoder, cut, size32(input));
    }
    std::uniform_int_distribution<std::size_t> pickBit(0, payload.size() * 8 - 1);
    RangeCoder decoder;
    for (int trial = 0; trial < 200; ++trial) {
        Bytes damaged = payload;
        const std::size_t bit = pickBit(rng);
        damaged[bit / 8] = static_cast<std::uint8_t>(damaged[bit / 8] ^ (1u << (bit % 8)));
        decoder.initModel();
        expectContained(decoder, damaged, size32(input));
    }
}

}  // namespace
