// The streaming encoder and decoder against the one-shot calls: the same
// stream from ZOLT_Encode, and from ZOLT_Decode the same verdict, bytes and
// block at fault, however input and output are cut, for good, damaged and
// truncated streams of both variants.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/heap.h"
#include "support/codec_calls.h"
#include "support/stream_pieces.h"
#include "support/test_data.h"
#include "tavrine_api.h"

namespace {

using tavrine::test::Bytes;

using namespace tavrine::test::pieces;

struct Inputs {
    std::string name;
    Bytes bytes;
};

// Sizes around the block length; text-like, periodic, skewed, incompressible
// (stored uncoded by variant 5) and a mixture of coded and uncoded blocks.
std::vector<Inputs> generatedInputs() {
    std::mt19937 rng(1414);
    std::vector<Inputs> inputs;
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{5}, kBlock - 1, kBlock,
                                   kBlock + 1, 3 * kBlock + 77, std::size_t{70000}}) {
        const std::string n = std::to_string(size);
        inputs.push_back({"small alphabet " + n, tavrine::test::randomBytes(size, rng, 4)});
        inputs.push_back({"periodic " + n, tavrine::test::periodicBytes(size, 300, rng, 40, true)});
        inputs.push_back({"skewed " + n, tavrine::test::skewedBytes(size, rng)});
        inputs.push_back({"random " + n, tavrine::test::randomBytes(size, rng)});
    }
    Bytes mixed = tavrine::test::skewedBytes(2 * kBlock, rng);
    const Bytes noise = tavrine::test::randomBytes(kBlock + 500, rng);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    const Bytes tail = tavrine::test::periodicBytes(kBlock + 9, 7, rng);
    mixed.insert(mixed.end(), tail.begin(), tail.end());
    inputs.push_back({"coded and uncoded blocks", mixed});
    return inputs;
}

std::vector<std::pair<NamedCutter, NamedCutter>> encodeCuts(std::size_t inputSize) {
    std::vector<std::pair<NamedCutter, NamedCutter>> cuts = {
        {{"whole", whole()}, {"ample", ample()}},
        {{"whole", whole()}, {"1-byte output", bytes()}},
        {{"pieces straddling blocks", endingAt({kBlock - 1, kBlock + 1, 2 * kBlock + 2, 3 * kBlock - 3})},
         {"just under a block of output", [](std::size_t) { return std::size_t{8197}; }}},
        {{"random pieces", randomPieces(7, 3 * kBlock)}, {"random output", randomPieces(8, 20000)}},
    };
    if (inputSize <= 3 * kBlock + 77) cuts.push_back({{"1-byte input", bytes()}, {"ample", ample()}});
    if (inputSize <= kBlock + 1) cuts.push_back({{"1-byte input", bytes()}, {"1-byte output", bytes()}});
    return cuts;
}

TEST(StreamingEncoder, GivesZoltEncodesBytesForEveryCutOfInputAndOutput) {
    for (const auto& input : generatedInputs()) {
        for (const std::uint32_t variant : {TAVRINE_VARIANT_UNCODED, TAVRINE_VARIANT_RANGE_CODED}) {
            const Bytes expected = tavrine::test::encodeOrFail(input.bytes, variant);
            for (const auto& [in, out] : encodeCuts(input.bytes.size())) {
                ASSERT_EQ(encodeInPieces(input.bytes, variant, in.cut, out.cut), expected)
                    << input.name << ", variant " << variant << ", " << in.name << ", " << out.name;
            }
        }
    }
}

TEST(StreamingEncoder, FlushMakesEverythingSoFarDecodableAndTheStreamStaysValid) {
    std::mt19937 rng(99);
    const Bytes input = tavrine::test::skewedBytes(3 * kBlock, rng);
    tavrine_encoder* encoder = nullptr;
    ASSERT_EQ(tavrine_encoder_create(TAVRINE_VARIANT_RANGE_CODED, &encoder), TAVRINE_OK);
    Bytes stream(tavrine_encode_bound(input.size()) + kBlock);
    tavrine_out_buffer out{stream.data(), stream.size(), 0};
    std::size_t given = 0;
    for (const std::size_t flushAt : {std::size_t{100}, std::size_t{100}, kBlock + 5000, input.size()}) {
        tavrine_in_buffer in{input.data() + given, flushAt - given, 0};
        std::size_t remaining = 1;
        ASSERT_EQ(tavrine_encode_stream(encoder, &out, &in, TAVRINE_FLUSH, &remaining), TAVRINE_OK);
        EXPECT_EQ(remaining, 0u);
        given = flushAt;
        // What is out so far decodes to all the input given so far.
        const Bytes sofar(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(out.pos));
        EXPECT_EQ(tavrine::test::decodeOrFail(sofar), Bytes(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(given)));
    }
    std::size_t remaining = 1;
    ASSERT_EQ(tavrine_encode_stream(encoder, &out, nullptr, TAVRINE_END, &remaining), TAVRINE_OK);
    EXPECT_EQ(remaining, 0u);
    tavrine_encoder_free(encoder);
    stream.resize(out.pos);
    EXPECT_EQ(tavrine::test::decodeOrFail(stream), input);
    EXPECT_NE(stream, tavrine::test::encodeOrFail(input, TAVRINE_VARIANT_RANGE_CODED));  // other blocks
}

// Damaged versions of a stream: cut one to five bytes either side of every
// block boundary and in mid-payload, trailing garbage, rewritten header
// fields, and random bit flips.
std::vector<Inputs> damagedStreams(const Bytes& stream, std::mt19937& rng) {
    std::vector<Inputs> damaged;
    const std::vector<std::size_t> blocks = tavrine::test::blockOffsets(stream);
    std::set<std::size_t> cuts = aroundBlocks(stream);
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i) cuts.insert((blocks[i] + blocks[i + 1]) / 2);
    for (const std::size_t cut : cuts) {
        if (cut < stream.size()) {
            damaged.push_back({"cut at " + std::to_string(cut), Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut))});
        }
    }
    for (std::size_t extra = 1; extra <= 4; ++extra) {
        Bytes longer = stream;
        longer.insert(longer.end(), extra, 0x07);
        damaged.push_back({std::to_string(extra) + " trailing bytes", longer});
    }
    const std::size_t second = blocks.size() > 2 ? blocks[1] : 0;
    const struct {
        const char* what;
        std::size_t at;
        std::uint8_t low, high;
    } headers[] = {{"block size 0", 0, 0, 0},         {"block size 4", 0, 4, 0},
                   {"decoded length 0", 2, 0, 0},     {"decoded length past the record buffer", 2, 0x07, 0x80},
                   {"block size past the end", 0, 0xFF, 0xFF}};
    for (const auto& header : headers) {
        Bytes bad = stream;
        bad[second + header.at] = header.low;
        bad[second + header.at + 1] = header.high;
        damaged.push_back({header.what, bad});
    }
    for (int flip = 0; flip < 24; ++flip) {
        Bytes bad = stream;
        const std::size_t at = std::uniform_int_distribution<std::size_t>(0, stream.size() - 1)(rng);
        bad[at] ^= static_cast<std::uint8_t>(1u << (flip % 8));
        damaged.push_back({"bit " + std::to_string(flip % 8) + " of byte " + std::to_string(at), bad});
    }
    return damaged;
}

// ZOLT_Decode's verdict and bytes, with a capacity no block before the fault
// can run out of, and the extended call's status and block at fault.
struct OneShot {
    bool accepted = false;
    Bytes output;
    tavrine_status status = TAVRINE_OK;
    std::uint64_t fault = 0;
};

OneShot decodeOneShot(const Bytes& stream) {
    std::uint64_t announced = 0;
    tavrine_decoded_length(stream.data(), stream.size(), &announced, nullptr);
    const auto capacity = static_cast<std::uint32_t>(announced + 65536);
    const tavrine::test::CallResult call = tavrine::test::decodeCall(stream, capacity);
    OneShot oneShot;
    oneShot.accepted = call.result == 1;
    oneShot.output = call.output();
    Bytes buffer(capacity);
    std::size_t length = 0;
    oneShot.status = tavrine_decode(stream.data(), stream.size(), buffer.data(), buffer.size(), &length,
                                    &oneShot.fault, nullptr, nullptr);
    EXPECT_EQ(oneShot.status == TAVRINE_OK, oneShot.accepted);
    return oneShot;
}

// byteByByte adds the costliest schedule, one byte in and out per call.
void expectSameVerdict(const Bytes& stream, const std::string& what, bool byteByByte) {
    const OneShot oneShot = decodeOneShot(stream);
    const std::set<std::size_t> cuts = aroundBlocks(stream);
    std::vector<std::pair<NamedCutter, NamedCutter>> schedules = {
        {{"whole", whole()}, {"ample", ample()}},
        {{"pieces around block boundaries", endingAt(cuts)}, {"random output", randomPieces(3, 9000)}},
    };
    if (byteByByte) schedules.push_back({{"1-byte input", bytes()}, {"1-byte output", bytes()}});
    for (const auto& [in, out] : schedules) {
        const Decoded streamed = decodeInPieces(stream, in.cut, out.cut);
        const std::string where = what + ", " + in.name + ", " + out.name;
        ASSERT_EQ(streamed.status, oneShot.status) << where;
        if (oneShot.accepted) {
            ASSERT_EQ(streamed.output, oneShot.output) << where;
            ASSERT_EQ(streamed.offset, stream.size()) << where;
        } else {
            ASSERT_EQ(streamed.offset, oneShot.fault) << where;
            // The bytes of every block before the one at fault came out.
            Bytes buffer(oneShot.output.size() + 65536);
            std::size_t before = 0;
            tavrine_decode(stream.data(), stream.size(), buffer.data(), buffer.size(), &before, nullptr,
                           nullptr, nullptr);
            buffer.resize(before);
            ASSERT_EQ(streamed.output, buffer) << where;
        }
    }
}

TEST(StreamingDecoder, AgreesWithZoltDecodeOnGoodDamagedAndTruncatedStreams) {
    std::mt19937 rng(2718);
    for (const auto& input : generatedInputs()) {
        for (const std::uint32_t variant : {TAVRINE_VARIANT_UNCODED, TAVRINE_VARIANT_RANGE_CODED}) {
            const Bytes stream = tavrine::test::encodeOrFail(input.bytes, variant);
            const std::string name = input.name + ", variant " + std::to_string(variant);
            expectSameVerdict(stream, name, stream.size() <= kBlock + 100);
            const bool damageIt = input.bytes.size() == kBlock + 1 || input.bytes.size() == 3 * kBlock + 77 ||
                                  input.name == "coded and uncoded blocks";
            if (!damageIt) continue;
            for (const auto& bad : damagedStreams(stream, rng)) {
                SCOPED_TRACE(name + ", " + bad.name);
                expectSameVerdict(bad.bytes, bad.name, stream.size() <= kBlock + 100);
            }
        }
    }
}

TEST(StreamingDecoder, ABlockWithMoreSymbolsThanItsLengthIsCorruptAtThatBlock) {
    // Sixteen bytes of 'a' code to ten payload bytes; announced as five bytes,
    // the block holds more symbols than its record. ZOLT_Decode then stores
    // the length of the blocks before it and still fails.
    const Bytes good = tavrine::test::hex("09 00 03 00 00 00 63 62 63");
    Bytes stream = good;
    const Bytes overrun = tavrine::test::hex("0E 00 05 00 00 1B 4C F1 EC 09 8B 00 00 0A");
    stream.insert(stream.end(), overrun.begin(), overrun.end());
    const tavrine::test::CallResult call = tavrine::test::decodeCall(stream, 100);
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.length, 3u);
    expectSameVerdict(stream, "overrun", true);
    EXPECT_EQ(decodeOneShot(stream).fault, good.size());
    EXPECT_EQ(decodeOneShot(stream).status, TAVRINE_CORRUPT);
}

TEST(StreamingCalls, MisuseIsABadArgumentAndFailuresStay) {
    tavrine_encoder* encoder = nullptr;
    EXPECT_EQ(tavrine_encoder_create(3, &encoder), TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(encoder, nullptr);
    EXPECT_EQ(tavrine_encoder_create(TAVRINE_VARIANT_UNCODED, nullptr), TAVRINE_BAD_ARGUMENT);
    ASSERT_EQ(tavrine_encoder_create(TAVRINE_VARIANT_UNCODED, &encoder), TAVRINE_OK);
    const Bytes abc = tavrine::test::ascii("abc");
    Bytes buffer(64);
    tavrine_out_buffer out{buffer.data(), buffer.size(), 0};
    tavrine_in_buffer in{abc.data(), abc.size(), 0};
    tavrine_out_buffer badOut{buffer.data(), 4, 5};
    tavrine_in_buffer badIn{nullptr, 3, 0};
    EXPECT_EQ(tavrine_encode_stream(encoder, &badOut, &in, TAVRINE_CONTINUE, nullptr), TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_encode_stream(encoder, &out, &badIn, TAVRINE_CONTINUE, nullptr), TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_encode_stream(encoder, nullptr, &in, TAVRINE_CONTINUE, nullptr), TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_encode_stream(encoder, &out, &in, static_cast<tavrine_directive>(3), nullptr),
              TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_encode_stream(nullptr, &out, &in, TAVRINE_END, nullptr), TAVRINE_BAD_ARGUMENT);
    ASSERT_EQ(tavrine_encode_stream(encoder, &out, &in, TAVRINE_END, nullptr), TAVRINE_OK);
    EXPECT_EQ(tavrine::test::toHex(Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(out.pos))),
              "09 00 03 00 00 00 63 62 63");
    // Ended: more input is refused, asking for the end again is harmless.
    in.pos = 0;
    EXPECT_EQ(tavrine_encode_stream(encoder, &out, &in, TAVRINE_CONTINUE, nullptr), TAVRINE_BAD_ARGUMENT);
    std::size_t remaining = 1;
    EXPECT_EQ(tavrine_encode_stream(encoder, &out, nullptr, TAVRINE_END, &remaining), TAVRINE_OK);
    EXPECT_EQ(remaining, 0u);
    tavrine_encoder_free(encoder);
    tavrine_encoder_free(nullptr);

    tavrine_decoder* decoder = nullptr;
    EXPECT_EQ(tavrine_decoder_create(nullptr), TAVRINE_BAD_ARGUMENT);
    ASSERT_EQ(tavrine_decoder_create(&decoder), TAVRINE_OK);
    const Bytes corrupt = tavrine::test::hex("00 00 03 00 00 00 63 62 63");
    tavrine_in_buffer bad{corrupt.data(), corrupt.size(), 0};
    out.pos = 0;
    EXPECT_EQ(tavrine_decode_stream(decoder, &out, &bad, TAVRINE_CONTINUE, nullptr), TAVRINE_CORRUPT);
    const Bytes good = tavrine::test::hex("09 00 03 00 00 00 63 62 63");
    tavrine_in_buffer fine{good.data(), good.size(), 0};
    EXPECT_EQ(tavrine_decode_stream(decoder, &out, &fine, TAVRINE_END, nullptr), TAVRINE_CORRUPT);
    EXPECT_EQ(out.pos, 0u);
    tavrine_decoder_free(decoder);
    tavrine_decoder_free(nullptr);
    EXPECT_EQ(tavrine_decoder_offset(nullptr), 0u);
}

TEST(StreamingCalls, ExhaustedMemoryFailsCleanlyAndStays) {
    std::mt19937 rng(5);
    const Bytes input = tavrine::test::skewedBytes(2 * kBlock + 10, rng);
    const Bytes expected = tavrine::test::encodeOrFail(input, TAVRINE_VARIANT_RANGE_CODED);
    // Every allocation in turn fails, until a run needs no more than were counted.
    for (std::uint64_t failing = 1;; ++failing) {
        tavrine::platform::AllocationFault fault(failing);
        tavrine_encoder* encoder = nullptr;
        tavrine_status status = tavrine_encoder_create(TAVRINE_VARIANT_RANGE_CODED, &encoder);
        Bytes stream(tavrine_encode_bound(input.size()));
        tavrine_out_buffer out{stream.data(), stream.size(), 0};
        tavrine_in_buffer in{input.data(), input.size(), 0};
        if (status == TAVRINE_OK) status = tavrine_encode_stream(encoder, &out, &in, TAVRINE_END, nullptr);
        const bool exhausted = fault.attempts() >= failing;
        if (!exhausted) {
            ASSERT_EQ(status, TAVRINE_OK);
            stream.resize(out.pos);
            EXPECT_EQ(stream, expected);
            tavrine_encoder_free(encoder);
            EXPECT_GT(failing, 3u);
            break;
        }
        ASSERT_EQ(status, TAVRINE_OUT_OF_MEMORY) << "allocation " << failing;
        if (encoder != nullptr) {
            EXPECT_EQ(tavrine_encode_stream(encoder, &out, nullptr, TAVRINE_END, nullptr), TAVRINE_OUT_OF_MEMORY);
        }
        tavrine_encoder_free(encoder);
    }
    for (std::uint64_t failing = 1;; ++failing) {
        tavrine::platform::AllocationFault fault(failing);
        const Decoded decoded = decodeInPieces(expected, whole(), whole());
        if (fault.attempts() < failing) {
            EXPECT_EQ(decoded.output, input);
            break;
        }
        ASSERT_EQ(decoded.status, TAVRINE_OUT_OF_MEMORY) << "allocation " << failing;
    }
}

}  // namespace
