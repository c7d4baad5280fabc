// The fast coding paths against their straightforward forms: the inline range
// coder against the step-by-step coder, the move-to-front cursors against a
// plain table, the fused record passes against the stages run one after the
// other, and the inverse block sorts against the plain successor walk. Every
// comparison covers the outputs, the counts and the state left behind, on
// well-formed and on damaged input alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "entropy/range_coder.h"
#include "stream/record_coding.h"
#include "support/block_coder.h"
#include "support/reference_codec.h"
#include "support/reference_block_sort.h"
#include "support/reference_range_coder.h"
#include "support/test_data.h"
#include "transform/block_sort.h"
#include "transform/move_to_front.h"
#if TAVRINE_X86_SSSE3_DISPATCH
#include "platform/x86/cpu_features.h"
#endif

namespace {

using tavrine::FrequencyModel;
using tavrine::MoveToFrontTable;
using RangeCoder = tavrine::test::BlockCoder;
using tavrine::test::Bytes;
using tavrine::test::plainInverseBlockSort;
using tavrine::test::PlainMoveToFront;
using tavrine::test::ReferenceRangeCoder;
using tavrine::test::toHex;

constexpr std::uint32_t kUntouched = 0xDEADBEEF;
constexpr std::size_t kRecordBytes = 8194;  // a full block's record

std::uint32_t size32(const Bytes& bytes) { return static_cast<std::uint32_t>(bytes.size()); }

// ---------------------------------------------------------------- inputs

// Move-to-front output of sorted 8192-byte pieces of a sample, the table
// running on from piece to piece as in a stream.
std::vector<Bytes> samplePositionRecords(tavrine::test::SampleKind kind, std::size_t pieces) {
    const Bytes text = tavrine::test::generateSample(kind, pieces * 8192);
    std::vector<std::uint32_t> scratch(tavrine::test::kScratchSlots);
    MoveToFrontTable table;
    std::vector<Bytes> records;
    for (std::size_t at = 0; at < text.size() && records.size() < pieces; at += 8192) {
        const auto len = static_cast<std::uint32_t>(std::min<std::size_t>(8192, text.size() - at));
        Bytes record(len + tavrine::kPrimaryIndexBytes);
        tavrine::test::forwardBlockSortReference(record.data(), text.data() + at, len, scratch.data());
        table.MoveToFrontEncode(record.data(), record.data(),
                                static_cast<std::int32_t>(record.size()));
        records.push_back(std::move(record));
    }
    return records;
}

// Symbol streams of every kind the coder meets: uniform, skewed like
// move-to-front output, long runs, and from sorted text and records.
std::vector<Bytes> symbolStreams() {
    std::mt19937 rng(2024);
    std::vector<Bytes> streams;
    for (const std::size_t length : {0u, 1u, 2u, 3u, 17u, 36u, 37u, 500u, 4000u, 8194u}) {
        streams.push_back(tavrine::test::randomBytes(length, rng));
        streams.push_back(tavrine::test::skewedBytes(length, rng));
        streams.push_back(tavrine::test::randomBytes(length, rng, 4));
    }
    streams.push_back(Bytes(8194, 0x00));
    streams.push_back(Bytes(8194, 0xFF));
    streams.push_back(Bytes(3000, 0x01));
    Bytes alternating(6000);
    for (std::size_t i = 0; i < alternating.size(); ++i) {
        alternating[i] = (i % 7 == 0) ? 0xFE : 0x00;
    }
    streams.push_back(alternating);
    for (Bytes& record : samplePositionRecords(tavrine::test::SampleKind::text, 3)) {
        streams.push_back(std::move(record));
    }
    for (Bytes& record : samplePositionRecords(tavrine::test::SampleKind::records, 3)) {
        streams.push_back(std::move(record));
    }
    return streams;
}

void expectSameModel(const FrequencyModel& fast, const FrequencyModel& reference,
                     const std::string& where) {
    ASSERT_NE(fast.cumFreq, nullptr) << where;
    ASSERT_NE(reference.cumFreq, nullptr) << where;
    EXPECT_EQ(fast.untilRescale, reference.untilRescale) << where;
    EXPECT_EQ(fast.deferredUpdates, reference.deferredUpdates) << where;
    EXPECT_EQ(fast.interval, reference.interval) << where;
    EXPECT_EQ(fast.step, reference.step) << where;
    EXPECT_TRUE(std::equal(fast.cumFreq, fast.cumFreq + fast.symbolCount + 1, reference.cumFreq))
        << where;
    EXPECT_TRUE(std::equal(fast.accumFreq, fast.accumFreq + fast.symbolCount, reference.accumFreq))
        << where;
    EXPECT_TRUE(std::equal(fast.lookupTable, fast.lookupTable + tavrine::kLookupEntries,
                           reference.lookupTable))
        << where;
}

// ---------------------------------------------------------------- range coder

struct Encoded {
    bool ok = false;
    std::uint32_t count = kUntouched;
    std::uint32_t length = 0;
    Bytes out;
};

template <typename Coder>
Encoded encodeWith(Coder& coder, const Bytes& in, std::uint32_t outCap) {
    Encoded e;
    e.out.assign(outCap, 0x5A);
    e.ok = coder.encodeBlock(e.out.data(), in.data(), outCap, size32(in), e.count);
    e.length = coder.codedLength();
    return e;
}

struct Decoded {
    bool ok = false;
    std::uint32_t count = kUntouched;
    std::uint32_t read = 0;
    Bytes out;
};

template <typename Coder>
Decoded decodeWith(Coder& coder, const Bytes& payload, std::uint32_t outCap) {
    Decoded d;
    d.out.assign(outCap, 0x5A);
    d.ok = coder.decodeBlock(d.out.data(), payload.data(), outCap, size32(payload), d.count);
    d.read = coder.bytesRead();
    return d;
}

void expectSameEncoding(const Encoded& fast, const Encoded& reference, const std::string& where) {
    EXPECT_EQ(fast.ok, reference.ok) << where;
    EXPECT_EQ(fast.count, reference.count) << where;
    EXPECT_EQ(fast.length, reference.length) << where;
    EXPECT_EQ(toHex(fast.out), toHex(reference.out)) << where;  // bytes past the count included
}

void expectSameDecoding(const Decoded& fast, const Decoded& reference, const std::string& where) {
    EXPECT_EQ(fast.ok, reference.ok) << where;
    EXPECT_EQ(fast.count, reference.count) << where;
    EXPECT_EQ(fast.read, reference.read) << where;
    EXPECT_TRUE(fast.out == reference.out) << where;
}

TEST(FastRangeCoder, EncodesEveryStreamExactlyAsTheStepByStepCoder) {
    RangeCoder fast;
    ReferenceRangeCoder reference;  // both models run on through all streams
    int block = 0;
    for (const Bytes& stream : symbolStreams()) {
        const std::string where =
            "block " + std::to_string(block++) + " of " + std::to_string(stream.size());
        const auto ample = static_cast<std::uint32_t>(2 * stream.size() + 16);
        expectSameEncoding(encodeWith(fast, stream, ample), encodeWith(reference, stream, ample),
                           where);
        expectSameModel(fast.model(), reference.model(), where);
    }
}

TEST(FastRangeCoder, CutsItsOutputAtEveryCapacityAsTheStepByStepCoder) {
    std::mt19937 rng(5);
    const Bytes skewed = tavrine::test::skewedBytes(300, rng);
    const Bytes runs(700, 0x00);
    for (const Bytes* stream : {&skewed, &runs}) {
        ReferenceRangeCoder probe;
        const std::uint32_t full = encodeWith(probe, *stream, 2 * size32(*stream) + 16).length;
        for (std::uint32_t cap = 0; cap <= full + 2; ++cap) {
            RangeCoder fast;
            ReferenceRangeCoder reference;
            const std::string where =
                "capacity " + std::to_string(cap) + " of " + std::to_string(full);
            expectSameEncoding(encodeWith(fast, *stream, cap), encodeWith(reference, *stream, cap),
                               where);
            expectSameModel(fast.model(), reference.model(), where);
        }
    }
}

TEST(FastRangeCoder, DecodesEveryPayloadExactlyAsTheStepByStepCoder) {
    RangeCoder fast;
    ReferenceRangeCoder reference;
    ReferenceRangeCoder encoder;
    int block = 0;
    for (const Bytes& stream : symbolStreams()) {
        const std::string where =
            "block " + std::to_string(block++) + " of " + std::to_string(stream.size());
        Encoded payload = encodeWith(encoder, stream, 2 * size32(stream) + 16);
        payload.out.resize(payload.count);
        const Decoded d = decodeWith(fast, payload.out, size32(stream));
        expectSameDecoding(d, decodeWith(reference, payload.out, size32(stream)), where);
        EXPECT_TRUE(d.ok) << where;
        EXPECT_TRUE(d.out == stream) << where;
        expectSameModel(fast.model(), reference.model(), where);
    }
}

// A payload damaged in one of five ways, by trial: random bytes of any
// length, a flipped bit, a few changed bytes, cut short, or all ones (the
// largest values a decoder meets) or all zeros.
Bytes damagedPayload(const Bytes& good, int trial, std::mt19937& rng) {
    Bytes payload;
    switch (trial % 5) {
        case 0:
            payload = tavrine::test::randomBytes(
                std::uniform_int_distribution<std::size_t>(0, 500)(rng), rng);
            break;
        case 1: {
            payload = good;
            const std::size_t bit =
                std::uniform_int_distribution<std::size_t>(0, payload.size() * 8 - 1)(rng);
            payload[bit / 8] = static_cast<std::uint8_t>(payload[bit / 8] ^ (1u << (bit % 8)));
            break;
        }
        case 2:
            payload = good;
            for (int i = 0; i < 3; ++i) payload[rng() % payload.size()] ^= 0x5A;
            break;
        case 3:
            payload.assign(good.begin(),
                           good.begin() + static_cast<std::ptrdiff_t>(rng() % (good.size() + 1)));
            break;
        default:
            payload.assign(rng() % 300, trial % 10 == 4 ? 0xFF : 0x00);
            break;
    }
    return payload;
}

// Damaged payloads decode to other symbols; the fast decoder must still give
// the very same symbols, counts, results and models, also when a payload ends
// early or brings more symbols than the capacity.
TEST(FastRangeCoder, DecodesDamagedPayloadsExactlyAsTheStepByStepCoder) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<std::uint32_t> pickCap(0, 600);
    RangeCoder fast;
    ReferenceRangeCoder reference;
    ReferenceRangeCoder encoder;
    const Bytes input = tavrine::test::skewedBytes(500, rng);
    Encoded good = encodeWith(encoder, input, 2000);
    good.out.resize(good.count);
    for (int trial = 0; trial < 600; ++trial) {
        const Bytes payload = damagedPayload(good.out, trial, rng);
        const std::uint32_t cap = pickCap(rng);
        const std::string where = "trial " + std::to_string(trial) + " payload " + toHex(payload);
        expectSameDecoding(decodeWith(fast, payload, cap), decodeWith(reference, payload, cap),
                           where);
        expectSameModel(fast.model(), reference.model(), where);
        if (trial % 40 == 39) {
            fast.initModel();
            reference.initModel();
        }
    }
}

// A payload kept only when shorter than a limit. Below the limit it must be
// the step-by-step coder's payload byte for byte, leaving the same model; at
// or above it the coder reports the limit. Either way nothing is written past
// the limit. Limits are tried around the payload's own length, and the
// models are warmed up by earlier blocks first.
constexpr std::size_t kGuardBytes = 8;
constexpr std::uint8_t kGuard = 0x5A;

std::uint32_t encodeLimited(RangeCoder& coder, const Bytes& in, std::uint32_t limit, Bytes& out) {
    out.assign(limit + kGuardBytes, kGuard);
    tavrine::LimitedRangeEncoder encoder = coder.beginLimitedEncode(out.data(), limit);
    for (const std::uint8_t symbol : in) {
        if (encoder.cannotBeShorter()) break;
        encoder.encode(symbol);
    }
    if (encoder.cannotBeShorter()) {
        encoder.abandon();
        return limit;
    }
    return encoder.finish();
}

TEST(LimitedRangeEncoder, GivesTheStepByStepPayloadWhenShorterThanItsLimit) {
    std::mt19937 rng(31);
    std::vector<Bytes> streams = symbolStreams();
    // Flush bytes past 0xFF from a new model: a carry into the last byte
    // alone, and one through a 0xFF byte before it.
    streams.push_back(tavrine::test::hex("03 01 02 01 00"));
    streams.push_back(tavrine::test::hex(
        "71 7F 65 24 46 65 BF 3A 3B 31 59 7E CC 69 53 59 89 44 E1 5D 80 5A 69 0B C8"));
    for (int i = 0; i < 40; ++i) {
        // Long and varied enough for carries through runs of 0xFF bytes.
        streams.push_back(tavrine::test::randomBytes(3000 + rng() % 3000, rng, 1 + rng() % 256));
    }
    int trial = 0;
    for (const Bytes& stream : streams) {
        ReferenceRangeCoder probe;
        const std::uint32_t full = encodeWith(probe, stream, 2 * size32(stream) + 16).length;
        for (const std::uint32_t limit : {3u, 6u, 7u, full - 1, full, full + 1, full + 9,
                                          size32(stream), 2 * size32(stream) + 16}) {
            if (limit == 0) continue;  // an empty buffer: not a block's record
            const std::string where = "trial " + std::to_string(trial++) + " payload " +
                                      std::to_string(full) + " limit " + std::to_string(limit);
            RangeCoder fast;
            ReferenceRangeCoder reference;
            const int warmUp = stream.size() < 30 ? 0 : static_cast<int>(rng() % 3);
            for (int block = 0; block < warmUp; ++block) {
                const Bytes earlier = tavrine::test::skewedBytes(rng() % 3000, rng);
                const auto ample = 2 * size32(earlier) + 16;
                expectSameEncoding(encodeWith(fast, earlier, ample),
                                   encodeWith(reference, earlier, ample), where);
            }
            Bytes out;
            const std::uint32_t length = encodeLimited(fast, stream, limit, out);
            const Encoded expected = encodeWith(reference, stream, 2 * size32(stream) + 16);
            EXPECT_TRUE(std::all_of(out.begin() + limit, out.end(),
                                    [](std::uint8_t b) { return b == kGuard; }))
                << where;
            if (expected.length >= limit) {
                EXPECT_EQ(length, limit) << where;
                continue;
            }
            ASSERT_EQ(length, expected.length) << where;
            EXPECT_EQ(toHex(Bytes(out.begin(), out.begin() + length)),
                      toHex(Bytes(expected.out.begin(), expected.out.begin() + length)))
                << where;
            expectSameModel(fast.model(), reference.model(), where);
        }
    }
}

// The block loops start the model over after every uncoded block, in place,
// and once more at the start of a call, when the model has not coded yet:
// the coders must then code on from the very state of a new model, the
// decoder's value-to-symbol table included.
TEST(FastRangeCoder, CodesOnExactlyAfterTheModelStartsOver) {
    std::mt19937 rng(29);
    RangeCoder fastEncoder;
    RangeCoder fastDecoder;
    ReferenceRangeCoder referenceEncoder;
    ReferenceRangeCoder referenceDecoder;
    const std::vector<Bytes> streams = symbolStreams();
    for (int block = 0; block < 120; ++block) {
        const std::string where = "block " + std::to_string(block);
        const Bytes& stream = streams[rng() % streams.size()];
        const auto ample = static_cast<std::uint32_t>(2 * stream.size() + 16);
        const Encoded fast = encodeWith(fastEncoder, stream, ample);
        Encoded reference = encodeWith(referenceEncoder, stream, ample);
        expectSameEncoding(fast, reference, where);
        reference.out.resize(reference.count);
        const Decoded d = decodeWith(fastDecoder, reference.out, size32(stream));
        expectSameDecoding(d, decodeWith(referenceDecoder, reference.out, size32(stream)), where);
        EXPECT_TRUE(d.out == stream) << where;
        expectSameModel(fastDecoder.model(), referenceDecoder.model(), where);
        // Start over after one block in three, some times twice in a row.
        for (int restart = static_cast<int>(rng() % 6); restart < 2; ++restart) {
            fastEncoder.initModel();
            fastDecoder.initModel();
            referenceEncoder.initModel();
            referenceDecoder.initModel();
            expectSameModel(fastDecoder.model(), referenceDecoder.model(), where);
        }
    }
}

// ---------------------------------------------------------------- move-to-front

// Bytes that take every position 0..255 once, in random order, from the
// table that `table` holds, which they move on: every entry of the front and
// every chunk of the search behind it.
Bytes everyPositionOnce(PlainMoveToFront& table, std::mt19937& rng) {
    std::vector<std::uint32_t> positions(256);
    for (std::uint32_t p = 0; p < positions.size(); ++p) positions[p] = p;
    std::shuffle(positions.begin(), positions.end(), rng);
    Bytes bytes;
    for (const std::uint32_t p : positions) {
        const std::uint8_t value = table.entries()[p];
        bytes.push_back(value);
        EXPECT_EQ(table.encode(value), p);
    }
    return bytes;
}

// Byte streams that reach every position: every position once from the
// identity and from three scrambled tables (the first inputs, so the tables
// of the cursors under test run through the same states), cycles through k
// values (position k - 1 every time) for k up to 256, random and skewed bytes.
std::vector<Bytes> moveToFrontInputs() {
    std::mt19937 rng(7);
    std::vector<Bytes> inputs;
    PlainMoveToFront table;
    for (int round = 0; round < 4; ++round) inputs.push_back(everyPositionOnce(table, rng));
    for (std::uint32_t k = 1; k <= 256; k += (k < 20 ? 1 : 17)) {
        Bytes cycle(3 * k + 5);
        for (std::size_t i = 0; i < cycle.size(); ++i) {
            cycle[i] = static_cast<std::uint8_t>(255 - i % k);
        }
        inputs.push_back(cycle);
    }
    inputs.push_back(tavrine::test::randomBytes(5000, rng));
    inputs.push_back(tavrine::test::randomBytes(5000, rng, 20));
    inputs.push_back(tavrine::test::skewedBytes(5000, rng));
    inputs.push_back(Bytes(100, 0x00));
    for (const Bytes& record : samplePositionRecords(tavrine::test::SampleKind::text, 2)) {
        inputs.push_back(record);
    }
    return inputs;
}

// kDecodes false: an encoding cursor alone.
template <typename Cursor, bool kDecodes = true>
void expectCursorMatchesThePlainTable() {
    MoveToFrontTable encodeTable;
    MoveToFrontTable decodeTable;
    PlainMoveToFront plainEncoder;
    PlainMoveToFront plainDecoder;
    int input = 0;
    for (const Bytes& bytes : moveToFrontInputs()) {
        const std::string where = "input " + std::to_string(input++);
        Bytes positions(bytes.size());
        Bytes values(bytes.size());
        {
            Cursor encoder(encodeTable);
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                const std::uint32_t position = encoder.encodeByte(bytes[i]);
                ASSERT_EQ(position, plainEncoder.encode(bytes[i])) << where << " byte " << i;
                positions[i] = static_cast<std::uint8_t>(position);
            }
        }
        EXPECT_TRUE(encodeTable.entries() == plainEncoder.entries()) << where;
        if constexpr (kDecodes) {
            {
                Cursor decoder(decodeTable);
                for (std::size_t i = 0; i < positions.size(); ++i) {
                    values[i] = decoder.decodePosition(positions[i]);
                    ASSERT_EQ(values[i], plainDecoder.decode(positions[i]))
                        << where << " byte " << i;
                }
            }
            EXPECT_TRUE(decodeTable.entries() == plainDecoder.entries()) << where;
            EXPECT_TRUE(values == bytes) << where;
        }
    }
}

TEST(MoveToFrontCursor, WordFrontMatchesThePlainTable) {
    expectCursorMatchesThePlainTable<tavrine::WordFrontCursor>();
}

#if TAVRINE_X86_SSE2
TEST(MoveToFrontCursor, VectorFrontMatchesThePlainTable) {
    expectCursorMatchesThePlainTable<tavrine::VectorFrontCursor>();
}
#endif

#if TAVRINE_X86_SSE41_DISPATCH
// The encoding cursor of processors with SSE4.1; the fused encoding pass
// that runs it is checked against the stages in turn below.
TEST(MoveToFrontCursor, BlendingEncodingCursorMatchesThePlainTable) {
    if (!tavrine::platform::hasSse41()) GTEST_SKIP() << "the processor has no SSE4.1";
    expectCursorMatchesThePlainTable<tavrine::BlendFrontCursor>();
}
#endif

// The fused decoding pass's cursor, through its short step for positions
// below 16 (every other time) and its general step, against the plain table:
// the values, the front it reports and the table it leaves.
template <typename Cursor>
void expectDecodingCursorMatchesThePlainTable() {
    MoveToFrontTable decodeTable;
    PlainMoveToFront plainEncoder;
    PlainMoveToFront plainDecoder;
    int input = 0;
    for (const Bytes& bytes : moveToFrontInputs()) {
        const std::string where = "input " + std::to_string(input++);
        {
            Cursor decoder(decodeTable);
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                const std::uint32_t position = plainEncoder.encode(bytes[i]);
                const std::uint8_t value = position < 16 && i % 2 == 0
                                               ? decoder.decodeInFront(position)
                                               : decoder.decodePosition(position);
                ASSERT_EQ(value, plainDecoder.decode(position)) << where << " byte " << i;
                ASSERT_EQ(decoder.front(), value) << where << " byte " << i;
            }
        }
        EXPECT_TRUE(decodeTable.entries() == plainDecoder.entries()) << where;
    }
}

TEST(MoveToFrontCursor, DecodingCursorMatchesThePlainTable) {
    expectDecodingCursorMatchesThePlainTable<tavrine::MoveToFrontDecodeCursor>();
}

#if TAVRINE_X86_SSSE3_DISPATCH
// The cursor of the decoding pass on processors with SSSE3; the pass itself
// is checked against the one with the SSE2 cursor by the fused-pass tests.
TEST(MoveToFrontCursor, ShufflingDecodingCursorMatchesThePlainTable) {
    if (!tavrine::platform::hasSsse3()) GTEST_SKIP() << "the processor has no SSSE3";
    expectDecodingCursorMatchesThePlainTable<tavrine::ShuffleFrontCursor>();
}
#endif

#if TAVRINE_X86_AVX2_DISPATCH
// The cursors whose steps behind the front shift the whole table without a
// branch, and those steps themselves, on processors with AVX2.
TEST(MoveToFrontCursor, TableShiftingCursorsMatchThePlainTable) {
    if (!tavrine::platform::hasAvx2()) GTEST_SKIP() << "the processor has no AVX2";
    expectCursorMatchesThePlainTable<tavrine::TableShiftWordCursor>();
    expectCursorMatchesThePlainTable<tavrine::TableShiftBlendCursor>();
    expectCursorMatchesThePlainTable<tavrine::PositionTableCursor, false>();
    expectDecodingCursorMatchesThePlainTable<tavrine::TableShiftShuffleCursor>();
}
#endif

// The steps behind a cursor's front, for every position in scrambled tables:
// the value is found where it stands, entry 16 takes the entry that leaves
// the front, 17 .. position the entries before them, and nothing else moves.
template <typename FindAndShift, typename Shift>
void expectStepsBehindTheFront(FindAndShift findAndShift, Shift shift) {
    std::mt19937 rng(11);
    for (std::uint32_t position = 16; position < MoveToFrontTable::kValues; ++position) {
        MoveToFrontTable::Entries before{};
        std::iota(before.begin(), before.end(), std::uint8_t{0});
        std::shuffle(before.begin(), before.end(), rng);
        const std::uint8_t leaving = before[rng() % 16];
        MoveToFrontTable::Entries expected = before;
        std::copy_backward(before.begin() + 16, before.begin() + position,
                           expected.begin() + position + 1);
        expected[16] = leaving;

        MoveToFrontTable::Entries found = before;
        EXPECT_EQ(findAndShift(found.data(), before[position], leaving), position);
        EXPECT_TRUE(found == expected) << "find and shift, position " << position;
        MoveToFrontTable::Entries shifted = before;
        shift(shifted.data(), position, leaving);
        EXPECT_TRUE(shifted == expected) << "shift, position " << position;
    }
}

TEST(MoveToFrontSteps, BehindTheFrontPortableAndTheBuildsOwn) {
    expectStepsBehindTheFront(
        [](std::uint8_t* entries, std::uint8_t value, std::uint8_t leaving) {
            return tavrine::portable::findAndShiftBehindFront(entries, value, leaving);
        },
        [](std::uint8_t* entries, std::uint32_t position, std::uint8_t leaving) {
            tavrine::portable::shiftBehindFront(entries, position, leaving);
        });
    expectStepsBehindTheFront(
        [](std::uint8_t* entries, std::uint8_t value, std::uint8_t leaving) {
            return tavrine::arch::findAndShiftBehindFront(entries, value, leaving);
        },
        [](std::uint8_t* entries, std::uint32_t position, std::uint8_t leaving) {
            tavrine::arch::shiftBehindFront(entries, position, leaving);
        });
#if TAVRINE_X86_AVX2_DISPATCH
    if (tavrine::platform::hasAvx2()) {
        expectStepsBehindTheFront(
            [](std::uint8_t* entries, std::uint8_t value, std::uint8_t leaving) {
                return tavrine::x86::avx2::findAndShiftBehindFront(entries, value, leaving);
            },
            [](std::uint8_t* entries, std::uint32_t position, std::uint8_t leaving) {
                tavrine::x86::avx2::shiftBehindFront(entries, position, leaving);
            });
    }
#endif
}

TEST(MoveToFrontCursor, DecodesEveryPositionFromEveryTable) {
    // Any byte is a valid position; decoding random positions must stay a
    // permutation and agree with the plain table whatever the table holds.
    std::mt19937 rng(13);
    MoveToFrontTable table;
    PlainMoveToFront plain;
    const Bytes positions = tavrine::test::randomBytes(20000, rng);
    Bytes values(positions.size());
    table.MoveToFrontDecode(values.data(), positions.data(),
                            static_cast<std::int32_t>(positions.size()));
    for (std::size_t i = 0; i < positions.size(); ++i) {
        ASSERT_EQ(values[i], plain.decode(positions[i])) << i;
    }
    EXPECT_TRUE(table.entries() == plain.entries());
}

// ---------------------------------------------------------------- fused passes

TEST(RecordCoding, EncodingInOnePassEqualsTheStagesInTurn) {
    MoveToFrontTable fusedTable;
    RangeCoder fusedCoder;
    MoveToFrontTable separateTable;
    ReferenceRangeCoder separateCoder;
    std::mt19937 rng(21);
    std::vector<Bytes> records;
    for (const std::size_t length :
         {std::size_t{3}, std::size_t{40}, std::size_t{1000}, kRecordBytes}) {
        records.push_back(tavrine::test::randomBytes(length, rng));
        records.push_back(tavrine::test::randomBytes(length, rng, 3));
    }
    int block = 0;
    for (const Bytes& record : records) {
        for (const std::uint32_t cap : {size32(record) - 1, 2 * size32(record) + 16}) {
            const std::string where =
                "record " + std::to_string(block) + " capacity " + std::to_string(cap);
            Bytes fusedRecord = record;
            Bytes fusedOut(cap, 0x5A);
            const std::uint32_t length = tavrine::encodeRecord(
                fusedTable, fusedCoder, fusedRecord.data(), size32(record), fusedOut.data(), cap);
            Bytes separateRecord = record;
            separateTable.MoveToFrontEncode(separateRecord.data(), separateRecord.data(),
                                            static_cast<std::int32_t>(record.size()));
            const Encoded separate = encodeWith(separateCoder, separateRecord, cap);
            EXPECT_EQ(length, separate.length) << where;
            EXPECT_TRUE(fusedOut == separate.out) << where;
            EXPECT_TRUE(fusedRecord == separateRecord) << where;
            EXPECT_TRUE(fusedTable.entries() == separateTable.entries()) << where;
            expectSameModel(fusedCoder.model(), separateCoder.model(), where);
        }
        ++block;
    }
}

// The encode loop's pass for a record that fits: the record's move-to-front
// output always, and the payload and model of the stages in turn whenever the
// payload is shorter than the record. Otherwise the model is initialised
// again, as the loop does, on both sides.
TEST(RecordCoding, EncodingIfShorterEqualsTheStagesInTurn) {
    MoveToFrontTable fusedTable;
    RangeCoder fusedCoder;
    MoveToFrontTable separateTable;
    ReferenceRangeCoder separateCoder;
    std::mt19937 rng(25);
    std::vector<Bytes> records;
    for (const std::size_t length : {std::size_t{3}, std::size_t{5}, std::size_t{6},
                                     std::size_t{7}, std::size_t{40}, std::size_t{1000},
                                     kRecordBytes}) {
        records.push_back(tavrine::test::randomBytes(length, rng));
        records.push_back(tavrine::test::randomBytes(length, rng, 3));
        records.push_back(tavrine::test::skewedBytes(length, rng));
    }
    for (Bytes& record : samplePositionRecords(tavrine::test::SampleKind::records, 4)) {
        records.push_back(std::move(record));
    }
    int block = 0;
    int coded = 0;
    tavrine::EncodingCursorHint hint;
    int afterSpread = 0;
    for (const Bytes& record : records) {
        const std::string where = "record " + std::to_string(block++);
        const std::uint32_t n = size32(record);
        Bytes fusedRecord = record;
        Bytes fusedOut(n + kGuardBytes, kGuard);
        afterSpread += hint.positionsSpread ? 1 : 0;
        const std::uint32_t length = tavrine::encodeRecordIfShorter(
            fusedTable, fusedCoder, fusedRecord.data(), n, fusedOut.data(), hint);
        Bytes separateRecord = record;
        separateTable.MoveToFrontEncode(separateRecord.data(), separateRecord.data(),
                                        static_cast<std::int32_t>(n));
        const Encoded separate = encodeWith(separateCoder, separateRecord, 2 * n + 16);
        EXPECT_TRUE(fusedRecord == separateRecord) << where;
        EXPECT_TRUE(fusedTable.entries() == separateTable.entries()) << where;
        EXPECT_TRUE(std::all_of(fusedOut.begin() + n, fusedOut.end(),
                                [](std::uint8_t b) { return b == kGuard; }))
            << where;
        if (separate.length < n) {
            ++coded;
            ASSERT_EQ(length, separate.length) << where;
            EXPECT_TRUE(std::equal(fusedOut.begin(), fusedOut.begin() + length,
                                   separate.out.begin()))
                << where;
            expectSameModel(fusedCoder.model(), separateCoder.model(), where);
        } else {
            EXPECT_EQ(length, n) << where;
            fusedCoder.initModel();
            separateCoder.initModel();
        }
    }
    EXPECT_GT(coded, 5);
    EXPECT_LT(coded, block - 5);
#if TAVRINE_X86_AVX2_DISPATCH
    // Each random record sets the hint, and the record after it takes the
    // position-table cursor.
    if (tavrine::platform::hasAvx2()) {
        EXPECT_GT(afterSpread, 3);
    }
#endif
}

// Runs of 1 to 300 equal bytes, of few values.
Bytes runsOf(std::size_t length, std::mt19937& rng) {
    Bytes bytes;
    while (bytes.size() < length) {
        const std::size_t run = std::uniform_int_distribution<std::size_t>(1, 300)(rng);
        const auto value = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 3)(rng));
        bytes.insert(bytes.end(), std::min(run, length - bytes.size()), value);
    }
    return bytes;
}

Bytes withPrimaryIndex(Bytes record, std::size_t row);
tavrine::RecordByteCounts rankIntoTable(const Bytes& record, std::vector<std::uint16_t>& table);

// What a ranking pass leaves: the outcome, the bytes written, their ranks and
// counts.
struct RankedRecord {
    explicit RankedRecord(std::uint32_t cap) : record(cap, 0x5A), ranks(cap) {}
    bool ok = false;
    std::uint32_t count = kUntouched;
    Bytes record;
    std::vector<std::uint16_t> ranks;
    tavrine::RecordByteCounts counts{};
};

// The fused decoding pass and the stages in turn (the step-by-step decoder,
// then move-to-front), each with its own table and model, fed the same
// payloads: every result, count, model, byte and table must agree.
class FusedAgainstStages {
public:
    // Decodes one payload both ways, and by the ranking pass, which must agree
    // with the fused one and rank and count the bytes it writes; returns
    // whether the fused pass succeeded.
    bool decode(const Bytes& payload, std::uint32_t cap, const std::string& where) {
        Bytes fused(cap, 0x5A);
        std::uint32_t fusedCount = kUntouched;
        const bool fusedOk = tavrine::decodeRecord(fusedTable_, fusedCoder_, payload.data(),
                                                   size32(payload), fused.data(), cap, fusedCount);
        RankedRecord ranked(cap);
        ranked.ok = tavrine::decodeRecordRanked(rankedTable_, rankedCoder_, payload.data(),
                                                size32(payload), ranked.record.data(), cap,
                                                ranked.count, ranked.ranks.data(), ranked.counts);
        EXPECT_EQ(ranked.ok, fusedOk) << where;
        EXPECT_EQ(ranked.count, fusedCount) << where;
        EXPECT_TRUE(rankedTable_.entries() == fusedTable_.entries()) << where;
        expectSameModel(rankedCoder_.model(), fusedCoder_.model(), where);
        if (ranked.ok && fusedOk) {
            EXPECT_TRUE(ranked.record == fused) << where;
            tavrine::RecordByteCounts seen{};
            std::vector<std::uint16_t> expectedRanks(cap);
            for (std::uint32_t w = 0; w < ranked.count; ++w) {
                expectedRanks[w] = static_cast<std::uint16_t>(seen[ranked.record[w]]++);
            }
            EXPECT_TRUE(std::equal(ranked.ranks.begin(), ranked.ranks.begin() + ranked.count,
                                   expectedRanks.begin()))
                << where;
            EXPECT_TRUE(ranked.counts == seen) << where;
        }
        expectWalkingPassAgrees(payload, cap, ranked, where);
        Decoded separate = decodeWith(separateCoder_, payload, cap);
        EXPECT_EQ(fusedOk, separate.ok) << where;
        EXPECT_EQ(fusedCount, separate.count) << where;
        expectSameModel(fusedCoder_.model(), separateCoder_.model(), where);
        if (fusedOk && separate.ok) {
            separateTable_.MoveToFrontDecode(separate.out.data(), separate.out.data(),
                                             static_cast<std::int32_t>(separate.count));
            EXPECT_TRUE(
                std::equal(fused.begin(), fused.begin() + fusedCount, separate.out.begin()))
                << where;
            EXPECT_TRUE(fusedTable_.entries() == separateTable_.entries()) << where;
        }
        count_ = fusedCount;
        fused.resize(fusedOk ? fusedCount : 0);
        output_ = std::move(fused);
        return fusedOk;
    }

    std::uint32_t count() const { return count_; }
    // The bytes the fused pass decoded last, when it succeeded.
    const Bytes& output() const { return output_; }

    // A new stream: models and tables start afresh.
    void restart() {
        fusedCoder_.initModel();
        rankedCoder_.initModel();
        walkingCoder_.initModel();
        separateCoder_.initModel();
        fusedTable_.reset();
        rankedTable_.reset();
        walkingTable_.reset();
        separateTable_.reset();
    }

private:
    // The ranking pass that walks the block before beside it, here a block
    // of random length (none, shorter or longer than the record): the
    // ranking pass's results, and the block before's bytes once its walk is
    // finished, whether the record decoded or not.
    void expectWalkingPassAgrees(const Bytes& payload, std::uint32_t cap,
                                 const RankedRecord& ranked, const std::string& where) {
        const std::size_t m = walkRng_() % (cap + 4);
        Bytes before;
        std::vector<std::uint16_t> beforeTable;
        std::vector<std::uint32_t> walkTable(std::max<std::size_t>(m, 1), 0xDEADBEEF);
        Bytes beforeOut(m + 1, 0xA5);  // one guard byte behind the block
        tavrine::BlockWalk walk;
        if (m > 0) {
            before = withPrimaryIndex(
                tavrine::test::randomBytes(m + tavrine::kPrimaryIndexBytes, walkRng_, 4u),
                walkRng_() % m);
            const tavrine::RecordByteCounts beforeCounts = rankIntoTable(before, beforeTable);
            walk = tavrine::PrepareBlockWalk(
                beforeOut.data(), before.data(), size32(before),
                tavrine::recordRankSlots(beforeTable.data(), static_cast<std::uint32_t>(m)),
                beforeCounts, walkTable.data());
        }
        RankedRecord walked(cap);
        walked.ok = tavrine::decodeRecordRankedWalking(
            walkingTable_, walkingCoder_, payload.data(), size32(payload), walked.record.data(),
            cap, walked.count, walked.ranks.data(), walked.counts, walk);
        walk.finish();
        EXPECT_EQ(walked.ok, ranked.ok) << where;
        EXPECT_EQ(walked.count, ranked.count) << where;
        EXPECT_TRUE(walkingTable_.entries() == rankedTable_.entries()) << where;
        expectSameModel(walkingCoder_.model(), rankedCoder_.model(), where);
        if (walked.ok && ranked.ok) {
            const auto n = static_cast<std::ptrdiff_t>(walked.count);
            EXPECT_TRUE(std::equal(walked.record.begin(), walked.record.begin() + n,
                                   ranked.record.begin()))
                << where;
            EXPECT_TRUE(std::equal(walked.ranks.begin(), walked.ranks.begin() + n,
                                   ranked.ranks.begin()))
                << where;
            EXPECT_TRUE(walked.counts == ranked.counts) << where;
        }
        EXPECT_EQ(beforeOut.back(), 0xA5) << where << ": written past the block before";
        beforeOut.pop_back();
        if (m > 0) {
            EXPECT_TRUE(beforeOut == plainInverseBlockSort(before)) << where;
        }
    }

    std::mt19937 walkRng_{41};
    MoveToFrontTable walkingTable_;
    RangeCoder walkingCoder_;
    MoveToFrontTable fusedTable_;
    RangeCoder fusedCoder_;
    MoveToFrontTable rankedTable_;
    RangeCoder rankedCoder_;
    MoveToFrontTable separateTable_;
    ReferenceRangeCoder separateCoder_;
    std::uint32_t count_ = kUntouched;
    Bytes output_;
};

TEST(RecordCoding, DecodingInOnePassEqualsTheStagesInTurn) {
    std::mt19937 rng(23);
    MoveToFrontTable encodeTable;
    RangeCoder encoder;
    FusedAgainstStages decoders;
    for (int block = 0; block < 40; ++block) {
        const std::string where = "block " + std::to_string(block);
        const std::size_t length = std::uniform_int_distribution<std::size_t>(3, kRecordBytes)(rng);
        // Random bytes, few values, and long runs (the decoder's run path).
        Bytes record = tavrine::test::randomBytes(length, rng, block % 2 == 0 ? 256u : 6u);
        if (block % 4 == 3) record = runsOf(length, rng);
        Bytes payload(2 * length + 16);
        payload.resize(tavrine::encodeRecord(encodeTable, encoder, record.data(), size32(record),
                                             payload.data(), size32(payload)));
        if (block % 5 == 4) {
            payload[payload.size() / 2] ^= 0x10;  // damaged: other symbols, same paths
        }
        // Capacities below, at and above the record length.
        const std::uint32_t cap =
            size32(record) - (block % 3 == 0 ? 1 : 0) + (block % 3 == 1 ? 5 : 0);
        const bool ok = decoders.decode(payload, cap, where);
        if (ok && block % 5 != 4 && block % 3 != 0) {
            EXPECT_EQ(decoders.count(), size32(record)) << where;
        } else {
            // A failed block ends the stream, and after a damaged or cut one the
            // encoder and decoders no longer hold the same model: all start afresh.
            encoder.initModel();
            encodeTable.reset();
            decoders.restart();
        }
    }
}

// Damaged payloads of every kind through the fused pass, which decodes most
// symbols without testing for the input's end or the range: the same
// symbols, counts, results, tables and models as the stages in turn.
TEST(RecordCoding, DecodingDamagedPayloadsInOnePassEqualsTheStagesInTurn) {
    std::mt19937 rng(27);
    MoveToFrontTable encodeTable;
    RangeCoder encoder;
    Bytes record = tavrine::test::skewedBytes(3000, rng);
    Bytes good(2 * record.size() + 16);
    good.resize(tavrine::encodeRecord(encodeTable, encoder, record.data(), size32(record),
                                      good.data(), size32(good)));
    FusedAgainstStages decoders;
    for (int trial = 0; trial < 400; ++trial) {
        const Bytes payload = damagedPayload(good, trial, rng);
        const auto cap = static_cast<std::uint32_t>(rng() % 4000);
        const std::string where = "trial " + std::to_string(trial) + " capacity " +
                                  std::to_string(cap) + " of " + std::to_string(payload.size());
        const bool ok = decoders.decode(payload, cap, where);
        if (!ok || trial % 25 == 24) {
            // A failed block ends the stream; now and then a stream ends anyway.
            decoders.restart();
        }
    }
}

// A payload that ends partway through a normalisation while symbol 0
// dominates the model: its last symbol is decoded from the bytes there are,
// after one normalisation, whether it turns out to be 0 or not. A three-byte
// payload does this on its first symbol, which priming leaves three shifts
// short of a full window.
TEST(RecordCoding, PayloadsEndingInsideANormalisationDecodeAsTheStagesInTurn) {
    constexpr std::uint8_t kRun = 'A';
    Bytes record(kRecordBytes, kRun);  // mostly one value: move-to-front makes it zeros
    for (std::size_t i = 1; i + 1 < record.size(); i += 97) record[i] = 'B';
    MoveToFrontTable encodeTable;
    RangeCoder encoder;
    Bytes warmUp(2 * record.size() + 16);
    warmUp.resize(tavrine::encodeRecord(encodeTable, encoder, record.data(), size32(record),
                                        warmUp.data(), size32(warmUp)));
    FusedAgainstStages decoders;
    int otherSymbols = 0;
    for (std::uint32_t last = 0; last < 256; ++last) {
        if (last % 32 == 0) {
            decoders.restart();
            ASSERT_TRUE(decoders.decode(warmUp, size32(record), "warm-up"));
        }
        const Bytes payload{0x00, 0x00, static_cast<std::uint8_t>(last)};
        const std::string where = "payload " + toHex(payload);
        if (decoders.decode(payload, 16, where) && decoders.count() == 1) {
            otherSymbols += decoders.output()[0] != kRun ? 1 : 0;
        }
    }
    // Small last bytes decode a 0 (the run's value); the largest are the case.
    EXPECT_GT(otherSymbols, 0);
}

// ---------------------------------------------------------------- inverse block sort

Bytes withPrimaryIndex(Bytes record, std::size_t row) {
    record[0] = static_cast<std::uint8_t>(row);
    record[1] = static_cast<std::uint8_t>(row >> 8);
    return record;
}

// Through a lent table, which earlier blocks leave filled, as the decoder uses it.
Bytes fastInverse(const Bytes& record, std::vector<std::uint16_t>& table) {
    const std::uint32_t m = size32(record) - tavrine::kPrimaryIndexBytes;
    if (table.size() < tavrine::inverseSortTableEntries(m)) {
        table.resize(tavrine::inverseSortTableEntries(m), 0xBEEF);
    }
    Bytes out(m);
    tavrine::InverseBlockSort(out.data(), record.data(), size32(record), table.data());
    return out;
}

// Ranks the record into a lent table, which earlier blocks leave filled, as
// the decoder does: its rank slots and the counts it returns.
tavrine::RecordByteCounts rankIntoTable(const Bytes& record, std::vector<std::uint16_t>& table) {
    const std::uint32_t m = size32(record) - tavrine::kPrimaryIndexBytes;
    if (table.size() < tavrine::inverseSortTableEntries(m)) {
        table.resize(tavrine::inverseSortTableEntries(m), 0xBEEF);
    }
    tavrine::RecordByteCounts counts{};
    std::uint16_t* ranks = tavrine::recordRankSlots(table.data(), m);
    for (std::size_t w = 0; w < record.size(); ++w) {
        ranks[w] = static_cast<std::uint16_t>(counts[record[w]]++);
    }
    return counts;
}

// Through a lent table with the record's ranks and counts in place.
Bytes rankedInverse(const Bytes& record, std::vector<std::uint16_t>& table) {
    const tavrine::RecordByteCounts counts = rankIntoTable(record, table);
    Bytes out(record.size() - tavrine::kPrimaryIndexBytes);
    tavrine::InverseBlockSortRanked(out.data(), record.data(), size32(record), table.data(),
                                    counts);
    return out;
}

// Through the walk, as the one-shot decoder takes it: ranked, prepared, then
// `steps` single steps (more than the block has, too) and the rest at once.
Bytes walkedInverse(const Bytes& record, std::vector<std::uint16_t>& table, std::size_t steps) {
    const std::uint32_t m = size32(record) - tavrine::kPrimaryIndexBytes;
    const tavrine::RecordByteCounts counts = rankIntoTable(record, table);
    const std::uint16_t* ranks = tavrine::recordRankSlots(table.data(), m);
    std::vector<std::uint32_t> walkTable(m, 0xDEADBEEF);
    Bytes out(m + 1, 0xA5);  // one guard byte behind the block
    tavrine::BlockWalk walk =
        tavrine::PrepareBlockWalk(out.data(), record.data(), size32(record), ranks, counts,
                                  walkTable.data());
    for (std::size_t s = 0; s < steps; ++s) walk.step();
    walk.finish();
    EXPECT_EQ(out.back(), 0xA5) << "written past the block";
    out.pop_back();
    return out;
}

TEST(FastInverseBlockSort, EveryPrimaryIndexOfSmallRecordsMatchesThePlainWalk) {
    std::mt19937 rng(31);
    std::vector<std::uint16_t> table;
    for (std::size_t m = 1; m <= 40; ++m) {
        for (const unsigned alphabet : {1u, 2u, 3u, 256u}) {
            const Bytes record =
                tavrine::test::randomBytes(m + tavrine::kPrimaryIndexBytes, rng, alphabet);
            for (std::size_t row = 0; row < m; ++row) {
                const Bytes r = withPrimaryIndex(record, row);
                ASSERT_EQ(toHex(fastInverse(r, table)), toHex(plainInverseBlockSort(r)))
                    << "record " << toHex(r);
                ASSERT_EQ(toHex(rankedInverse(r, table)), toHex(plainInverseBlockSort(r)))
                    << "record " << toHex(r);
                ASSERT_EQ(toHex(walkedInverse(r, table, row)), toHex(plainInverseBlockSort(r)))
                    << "record " << toHex(r);
            }
        }
    }
}

TEST(FastInverseBlockSort, LargeAndSortedRecordsMatchThePlainWalk) {
    std::mt19937 rng(37);
    std::vector<std::uint16_t> table;
    std::vector<Bytes> records;
    for (const std::size_t m : {41u, 255u, 256u, 4097u, 8192u, 32774u, 65536u}) {
        for (const unsigned alphabet : {2u, 256u}) {
            Bytes record =
                tavrine::test::randomBytes(m + tavrine::kPrimaryIndexBytes, rng, alphabet);
            records.push_back(withPrimaryIndex(
                record, std::uniform_int_distribution<std::size_t>(0, m - 1)(rng)));
            records.push_back(withPrimaryIndex(record, m - 1));
        }
    }
    // Real records, and blocks of one repeated byte (one bucket, all rows alike).
    const Bytes text = tavrine::test::sampleText(8192);
    std::vector<std::uint32_t> scratch(tavrine::test::kScratchSlots);
    for (const std::size_t length : {8192u, 1u, 777u}) {
        Bytes record(length + tavrine::kPrimaryIndexBytes);
        tavrine::test::forwardBlockSortReference(record.data(), text.data(),
                                           static_cast<std::uint32_t>(length), scratch.data());
        EXPECT_TRUE(plainInverseBlockSort(record) ==
                    Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length)));
        records.push_back(record);
    }
    records.push_back(withPrimaryIndex(Bytes(8194, 0x61), 4000));
    // The largest block of one byte, whose primary index has that byte twice:
    // its ranks run past 16 bits.
    records.push_back(withPrimaryIndex(Bytes(65538, 0x61), 0x6161));
    for (const Bytes& record : records) {
        EXPECT_TRUE(fastInverse(record, table) == plainInverseBlockSort(record))
            << "length " << record.size();
        EXPECT_TRUE(rankedInverse(record, table) == plainInverseBlockSort(record))
            << "length " << record.size();
        for (const std::size_t steps : {std::size_t{0}, record.size() / 3, record.size()}) {
            EXPECT_TRUE(walkedInverse(record, table, steps) == plainInverseBlockSort(record))
                << "length " << record.size() << ", steps " << steps;
        }
        Bytes own(record.size() - tavrine::kPrimaryIndexBytes);
        tavrine::test::inverseBlockSortOwnTable(own.data(), record.data(), size32(record));
        EXPECT_TRUE(own == plainInverseBlockSort(record)) << "length " << record.size();
    }
}

}  // namespace
