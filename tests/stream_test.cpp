// The encode and decode exports: the worked streams, the argument tests, the
// progress reports, the failure table and the decoder's checks on hostile
// headers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/codec_calls.h"
#include "support/reference_block_sort.h"
#include "support/test_data.h"
#include "tavrine.h"
#include "transform/block_sort.h"
#include "transform/move_to_front.h"

namespace {

using namespace tavrine::test;

Bytes repeat(std::uint8_t value, std::size_t count) { return Bytes(count, value); }

Bytes textOf(std::size_t length) { return sampleText(length); }

struct WorkedStream {
    const char* name;
    Bytes source;
    std::uint32_t variant;
    const char* stream;
};

TEST(WorkedStreams, EncodeByteForByteAndDecodeBack) {
    const Bytes abTimes16 = ascii("abababababababababababababababab");
    const WorkedStream cases[] = {
        {"abc", ascii("abc"), 0, "09 00 03 00 00 00 63 62 63"},
        {"abc", ascii("abc"), 5, "09 00 03 00 00 00 63 62 63"},
        {"sixteen a", repeat(0x61, 16), 0,
         "16 00 10 00 00 00 61 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"sixteen a", repeat(0x61, 16), 5, "0E 00 10 00 00 1B 4C F1 EC 09 8B 00 00 0A"},
        {"thirty-two zeros", repeat(0x00, 32), 5,
         "10 00 20 00 00 00 00 00 00 00 00 0A 1E 00 00 0C"},
        {"ab sixteen times", abTimes16, 5,
         "13 00 20 00 00 1B 52 8D 78 08 B8 A9 44 03 0B 7F 00 00 0F"},
        {"abracadabra", ascii("abracadabra"), 0,
         "11 00 0B 00 02 01 72 65 63 02 65 02 00 00 00 65 00"},
        {"abracadabra", ascii("abracadabra"), 5,
         "11 00 0B 00 02 01 72 65 63 02 65 02 00 00 00 65 00"},
    };
    for (const WorkedStream& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", variant " + std::to_string(c.variant));
        const Bytes stream = encodeOrFail(c.source, c.variant);
        EXPECT_EQ(toHex(stream), toHex(hex(c.stream)));
        EXPECT_EQ(decodeOrFail(stream), c.source);
    }
}

TEST(Arguments, EmptySourceSucceedsWithoutLookingAtBuffersOrCallback) {
    ProgressLog log;
    std::uint32_t length = kUntouched;
    EXPECT_EQ(ZOLT_Encode(2, 5, nullptr, 0, nullptr, &length, &ProgressLog::callback, &log), 1);
    EXPECT_EQ(length, 0u);
    length = kUntouched;
    EXPECT_EQ(ZOLT_Encode(2, 0, nullptr, 0, nullptr, &length, nullptr, nullptr), 1);
    EXPECT_EQ(length, 0u);
    length = kUntouched;
    EXPECT_EQ(ZOLT_Decode(2, nullptr, 0, nullptr, &length, &ProgressLog::callback, &log), 1);
    EXPECT_EQ(length, 0u);
    EXPECT_TRUE(log.reports.empty());
}

TEST(Arguments, TestsComeInTheirFixedOrder) {
    const Bytes src = ascii("abc");
    Bytes dst(64);
    std::uint32_t length = kUntouched;
    // A null length word and an unsupported type fail even for an empty source.
    EXPECT_EQ(ZOLT_Encode(2, 5, nullptr, 0, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(ZOLT_Decode(2, nullptr, 0, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(ZOLT_Encode(2, 1, nullptr, 0, nullptr, &length, nullptr, nullptr), 0);
    EXPECT_EQ(ZOLT_Encode(3, 5, nullptr, 0, nullptr, &length, nullptr, nullptr), 0);
    EXPECT_EQ(ZOLT_Decode(5, nullptr, 0, nullptr, &length, nullptr, nullptr), 0);
    EXPECT_EQ(length, kUntouched);
    // Then the buffers.
    length = 64;
    EXPECT_EQ(ZOLT_Encode(2, 5, nullptr, 3, dst.data(), &length, nullptr, nullptr), 0);
    EXPECT_EQ(ZOLT_Encode(2, 5, src.data(), 3, nullptr, &length, nullptr, nullptr), 0);
    EXPECT_EQ(ZOLT_Decode(2, nullptr, 3, dst.data(), &length, nullptr, nullptr), 0);
    EXPECT_EQ(ZOLT_Decode(2, src.data(), 3, nullptr, &length, nullptr, nullptr), 0);
    EXPECT_EQ(length, 64u);
}

TEST(Blocks, FullBlockAndOneMoreByte) {
    const Bytes full = textOf(8192);
    for (const std::uint32_t variant : {0u, 5u}) {
        ProgressLog log;
        const CallResult call = encodeCall(full, variant, maximumEncodedLength(8192), &log);
        ASSERT_EQ(call.result, 1);
        EXPECT_EQ(log.done(), (std::vector<std::uint32_t>{0, 8192}));
        if (variant == 0) {
            EXPECT_EQ(call.length, 8198u);
        }
        EXPECT_EQ(blockOffsets(call.output()).size(), 2u);
    }

    const Bytes longer = textOf(8193);
    for (const std::uint32_t variant : {0u, 5u}) {
        ProgressLog log;
        const CallResult call = encodeCall(longer, variant, maximumEncodedLength(8193), &log);
        ASSERT_EQ(call.result, 1);
        EXPECT_EQ(log.done(), (std::vector<std::uint32_t>{0, 8192, 8193}));
        for (const auto& report : log.reports) EXPECT_EQ(report.second, 8193u);
        const Bytes stream = call.output();
        const std::vector<std::size_t> offsets = blockOffsets(stream);
        ASSERT_EQ(offsets.size(), 3u);
        // A 1-byte block is always stored uncoded: no coded form is under 6 bytes.
        EXPECT_EQ(offsets[2] - offsets[1], 7u);
        EXPECT_EQ(stream[offsets[1] + 2], 1);
        EXPECT_EQ(decodeOrFail(stream), longer);
    }
}

TEST(Blocks, UncodedVariantAddsSixBytesPerBlock) {
    std::mt19937 rng(7);
    for (const std::size_t length : {1u, 100u, 8191u, 8192u, 8193u, 40000u, 65536u}) {
        const Bytes src = randomBytes(length, rng, 4);
        const Bytes stream = encodeOrFail(src, 0);
        const std::size_t blocks = (length + 8191) / 8192;
        EXPECT_EQ(stream.size(), length + 6 * blocks);
        EXPECT_EQ(decodeOrFail(stream), src);
    }
}

TEST(Blocks, CodedStreamWithUncodedBlocksDecodes) {
    // Random bytes do not compress: the first and the last block stay uncoded,
    // and the decoder must start its model afresh after each, as the encoder did.
    std::mt19937 rng(11);
    Bytes src = randomBytes(8192, rng);
    const Bytes text = textOf(3 * 8192);
    src.insert(src.end(), text.begin(), text.end());
    const Bytes tail = randomBytes(5000, rng);
    src.insert(src.end(), tail.begin(), tail.end());
    const Bytes stream = encodeOrFail(src, 5);
    const std::vector<std::size_t> offsets = blockOffsets(stream);
    ASSERT_EQ(offsets.size(), 6u);
    EXPECT_EQ(offsets[1] - offsets[0], 8198u);                 // uncoded
    EXPECT_LT(offsets[2] - offsets[1], 8198u);                 // coded
    EXPECT_EQ(offsets[5] - offsets[4], 5000u + 6);             // uncoded, last
    EXPECT_EQ(decodeOrFail(stream), src);
}

TEST(EncodeCapacity, FourBytesOrLessFailAfterTheFirstReport) {
    const Bytes src = ascii("abc");
    for (std::uint32_t capacity = 0; capacity <= 4; ++capacity) {
        ProgressLog log;
        const CallResult call = encodeCall(src, 5, capacity, &log);
        EXPECT_EQ(call.result, 0);
        EXPECT_EQ(call.length, capacity);  // untouched
        EXPECT_EQ(log.done(), (std::vector<std::uint32_t>{0}));
        EXPECT_TRUE(call.guardsIntact());
        EXPECT_EQ(call.buffer, Bytes(capacity + kGuardBytes, kGuardByte));
    }
}

TEST(EncodeCapacity, UncodedBlockThatDoesNotFitWritesNothingOfIt) {
    const Bytes src = ascii("abc");  // a 9-byte uncoded block
    const CallResult call = encodeCall(src, 0, 8);
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.length, 8u);
    EXPECT_EQ(call.buffer, Bytes(8 + kGuardBytes, kGuardByte));
}

TEST(EncodeCapacity, EveryCapacityFailsUntouchedOrGivesADecodableStream) {
    // Two blocks: the coded payloads are cut at every possible point on the way.
    const Bytes src = textOf(8192 + 1500);
    const std::uint32_t full = size32(encodeOrFail(src, 5));
    for (const std::uint32_t variant : {0u, 5u}) {
        std::uint32_t successes = 0;
        for (std::uint32_t capacity = 5; capacity <= full + 8200; capacity += (capacity < full + 16 ? 1 : 97)) {
            const CallResult call = encodeCall(src, variant, capacity);
            ASSERT_TRUE(call.guardsIntact()) << "capacity " << capacity;
            if (call.result == 0) {
                EXPECT_EQ(call.length, capacity);
                continue;
            }
            ++successes;
            EXPECT_LE(call.length, capacity);
            EXPECT_EQ(decodeOrFail(call.output()), src) << "capacity " << capacity;
        }
        EXPECT_GT(successes, 0u);
    }
}

TEST(EncodeCapacity, PayloadCutAtTheCapacityIsNeverStored) {
    // With room for all but the last byte of the coded form, the coded form is
    // cut and the uncoded form does not fit: the call fails untouched.
    const Bytes src = repeat(0x61, 16);
    const Bytes stream = encodeOrFail(src, 5);
    ASSERT_EQ(stream.size(), 14u);  // coded: 10 payload bytes, the record would be 18
    for (std::uint32_t capacity = 5; capacity < 14; ++capacity) {
        const CallResult call = encodeCall(src, 5, capacity);
        EXPECT_EQ(call.result, 0) << capacity;
        EXPECT_EQ(call.length, capacity);
        EXPECT_TRUE(call.guardsIntact());
    }
    EXPECT_EQ(encodeCall(src, 5, 14).output(), stream);
}

TEST(Progress, AbortAtTheFirstReportWritesNothing) {
    const Bytes src = textOf(20000);
    for (const bool decoding : {false, true}) {
        ProgressLog log;
        log.abortAt = 0;
        const Bytes stream = encodeOrFail(src, 5);
        const CallResult call = decoding ? decodeCall(stream, 20000, &log)
                                         : encodeCall(src, 5, maximumEncodedLength(20000), &log);
        EXPECT_EQ(call.result, 0);
        EXPECT_EQ(call.length, call.capacity);
        EXPECT_EQ(log.reports.size(), 1u);
        EXPECT_EQ(call.buffer, Bytes(call.capacity + kGuardBytes, kGuardByte));
    }
}

TEST(Progress, AbortAtTheFinalReportKeepsTheOutputAndItsLength) {
    const Bytes src = textOf(20000);
    const Bytes stream = encodeOrFail(src, 5);

    ProgressLog encodeLog;
    encodeLog.abortAt = 3;  // blocks at 0, 8192, 16384, then the final report
    CallResult call = encodeCall(src, 5, maximumEncodedLength(20000), &encodeLog);
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.length, stream.size());
    EXPECT_EQ(Bytes(call.buffer.begin(), call.buffer.begin() + call.length), stream);

    ProgressLog counting;
    ASSERT_EQ(decodeCall(stream, 20000, &counting).result, 1);
    ProgressLog decodeLog;
    decodeLog.abortAt = counting.reports.size() - 1;
    call = decodeCall(stream, 20000, &decodeLog);
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.length, 20000u);
    EXPECT_EQ(Bytes(call.buffer.begin(), call.buffer.begin() + 20000), src);
}

TEST(Progress, DecoderReportsAtMostOncePer8192StreamBytes) {
    const Bytes src = textOf(8193);
    const Bytes stream = encodeOrFail(src, 0);
    ASSERT_EQ(stream.size(), 8198u + 7u);
    ProgressLog log;
    ASSERT_EQ(decodeCall(stream, 8193, &log).result, 1);
    EXPECT_EQ(log.done(), (std::vector<std::uint32_t>{0, 8198, 8205}));
    for (const auto& report : log.reports) EXPECT_EQ(report.second, 8205u);

    // Many small blocks: a report for the first, then whenever 8192 stream
    // bytes have passed since the last one, and the final report.
    // (Zero bytes keep the move-to-front table at the identity, so blocks
    // encoded one by one still chain.)
    Bytes manyBlocks;
    for (int i = 0; i < 4000; ++i) {
        const Bytes one = encodeOrFail(Bytes{0}, 0);  // 7-byte blocks
        manyBlocks.insert(manyBlocks.end(), one.begin(), one.end());
    }
    ProgressLog small;
    ASSERT_EQ(decodeCall(manyBlocks, 4000, &small).result, 1);
    const std::vector<std::uint32_t> done = small.done();
    ASSERT_GE(done.size(), 3u);
    EXPECT_EQ(done.front(), 0u);
    EXPECT_EQ(done.back(), 28000u);
    for (std::size_t i = 1; i + 1 < done.size(); ++i) {
        EXPECT_GE(done[i] - done[i - 1], 8192u);
        EXPECT_LT(done[i] - done[i - 1], 8192u + 7u);
    }
}

TEST(DecodeFailures, StreamCutInsideABlockFailsWithoutFinalReport) {
    const Bytes src = textOf(30000);
    const Bytes stream = encodeOrFail(src, 5);
    const std::vector<std::size_t> offsets = blockOffsets(stream);
    ASSERT_EQ(offsets.size(), 5u);
    for (const std::size_t cut : {offsets[1] + 1, offsets[1] + 4, offsets[2] - 1, offsets[3] + 5}) {
        const Bytes shortened(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
        ProgressLog log;
        const CallResult call = decodeCall(shortened, 30000, &log);
        EXPECT_EQ(call.result, 0) << cut;
        EXPECT_EQ(call.length, 30000u);
        ASSERT_FALSE(log.reports.empty());
        EXPECT_LT(log.reports.back().first, cut);  // no final report with done = cut
    }
}

TEST(DecodeFailures, StreamCutAfterABlockDecodesThePrefix) {
    const Bytes src = textOf(30000);
    const Bytes stream = encodeOrFail(src, 5);
    const std::vector<std::size_t> offsets = blockOffsets(stream);
    for (std::size_t k = 1; k < offsets.size(); ++k) {
        const Bytes prefix(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(offsets[k]));
        const std::size_t decodedLength = std::min<std::size_t>(k * 8192, src.size());
        EXPECT_EQ(decodeOrFail(prefix), Bytes(src.begin(), src.begin() + static_cast<std::ptrdiff_t>(decodedLength)));
    }
}

TEST(DecodeFailures, TrailingGarbageFails) {
    const Bytes src = textOf(10000);
    const Bytes stream = encodeOrFail(src, 5);
    for (std::size_t extra = 1; extra <= 4; ++extra) {
        Bytes longer = stream;
        longer.resize(stream.size() + extra, 0x07);
        const CallResult call = decodeCall(longer, 10000);
        EXPECT_EQ(call.result, 0);
        EXPECT_EQ(call.length, 10000u);
    }
}

TEST(DecodeFailures, CapacityTooSmallKeepsTheBlocksBefore) {
    const Bytes src = textOf(20000);
    const Bytes stream = encodeOrFail(src, 5);
    const CallResult call = decodeCall(stream, 19999);
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.length, 19999u);
    EXPECT_TRUE(call.guardsIntact());
    EXPECT_EQ(Bytes(call.buffer.begin(), call.buffer.begin() + 16384),
              Bytes(src.begin(), src.begin() + 16384));
}

TEST(DecodeFailures, HeadersTheDecoderRefuses) {
    // Block size 4 or less, and decoded length 0.
    for (const char* bad : {"04 00 03 00", "03 00 03 00 00", "00 00 01 00 00 00 00",
                            "07 00 00 00 00 00 41"}) {
        const CallResult call = decodeCall(hex(bad), 100);
        EXPECT_EQ(call.result, 0) << bad;
        EXPECT_EQ(call.length, 100u);
    }
}

// An uncoded block for `source`, encoded from a fresh move-to-front table.
Bytes uncodedBlock(const Bytes& source) {
    const std::uint32_t n = size32(source) + 2;
    Bytes block(4 + n);
    std::vector<std::uint32_t> scratch(tavrine::test::kScratchSlots);
    tavrine::test::forwardBlockSortReference(block.data() + 4, source.data(), size32(source), scratch.data());
    tavrine::MoveToFrontTable table;
    table.MoveToFrontEncode(block.data() + 4, block.data() + 4, static_cast<std::int32_t>(n));
    block[0] = static_cast<std::uint8_t>(block.size());
    block[1] = static_cast<std::uint8_t>(block.size() >> 8);
    block[2] = static_cast<std::uint8_t>(source.size());
    block[3] = static_cast<std::uint8_t>(source.size() >> 8);
    return block;
}

TEST(DecodeFailures, BlocksUpToTheRecordBufferAreAcceptedAndLargerOnesRefused) {
    std::mt19937 rng(5);
    // 32774 decoded bytes make a record of 32776 bytes: the largest that fits.
    const Bytes largest = randomBytes(32774, rng, 3);
    EXPECT_EQ(decodeOrFail(uncodedBlock(largest)), largest);

    const Bytes tooLarge = randomBytes(32775, rng, 3);
    const CallResult call = decodeCall(uncodedBlock(tooLarge), 40000);
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.length, 40000u);
    EXPECT_EQ(call.buffer, Bytes(40000 + kGuardBytes, kGuardByte));
}

TEST(DecodeFailures, PrimaryIndexOutsideTheBlockIsRefusedBeforeAnythingIsWritten) {
    // The uncoded block of abc is 09 00 03 00 | 00 00 63 62 63. After inverse
    // move-to-front the first two record bytes are the primary index; a first
    // byte of 03 decodes to index 3, one past the last row.
    const Bytes good = hex("09 00 03 00 00 00 63 62 63");
    ASSERT_EQ(decodeOrFail(good), ascii("abc"));
    for (const char* bad : {"09 00 03 00 03 00 63 62 63", "09 00 03 00 00 01 63 62 63",
                            "09 00 03 00 FF FF 63 62 63"}) {
        const CallResult call = decodeCall(hex(bad), 3);
        EXPECT_EQ(call.result, 0) << bad;
        EXPECT_EQ(call.length, 3u);
        EXPECT_EQ(call.buffer, Bytes(3 + kGuardBytes, kGuardByte)) << bad;
    }
}

TEST(DecodeFailures, TooManySymbolsStoresThePrefixLengthAndReportsIt) {
    // The uncoded block of abc, then the coded block of sixteen a's with its
    // decoded length lowered to 10: that payload yields 18 symbols, more than
    // the 12-byte record holds. The uncoded block left the model in its initial
    // state, as the coded block expects.
    Bytes stream = hex("09 00 03 00 00 00 63 62 63");
    Bytes coded = hex("0E 00 10 00 00 1B 4C F1 EC 09 8B 00 00 0A");
    coded[2] = 10;
    stream.insert(stream.end(), coded.begin(), coded.end());
    ProgressLog log;
    const CallResult call = decodeCall(stream, 100, &log);
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.length, 3u);  // the block before stands decoded and counted
    EXPECT_EQ(Bytes(call.buffer.begin(), call.buffer.begin() + 3), ascii("abc"));
    EXPECT_EQ(log.done(), (std::vector<std::uint32_t>{0, 9}));  // final report at the failing block
}

}  // namespace
