// The streaming encoder and decoder with worker threads: for every thread
// count the same stream as ZOLT_Encode and the same bytes, verdict and block
// at fault as the decoder without threads, however input and output are cut,
// also for damaged and truncated streams. These run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/codec_calls.h"
#include "support/stream_pieces.h"
#include "support/test_data.h"
#include "tavrine_api.h"

namespace {

using tavrine::test::Bytes;
using namespace tavrine::test::pieces;

constexpr std::uint32_t kThreadCounts[] = {2, 3, 8};

struct Input {
    std::string name;
    Bytes bytes;
};

// Text, runs, a period, and coded blocks between incompressible ones (which
// restart the model), over many more blocks than the workers hold at once.
std::vector<Input> inputs() {
    std::mt19937 rng(1802);
    std::vector<Input> all = {
        {"empty", {}},
        {"one byte", Bytes{42}},
        {"one block", tavrine::test::sampleText(kBlock)},
        {"text, 40 blocks and a bit", tavrine::test::sampleText(40 * kBlock + 77)},
        {"runs", Bytes(9 * kBlock + 1, 0)},
        {"period 3", tavrine::test::periodicBytes(20 * kBlock, 3, rng)},
    };
    Bytes mixed;
    for (int part = 0; part < 6; ++part) {
        const Bytes piece = part % 2 == 0 ? tavrine::test::skewedBytes(3 * kBlock, rng)
                                          : tavrine::test::randomBytes(2 * kBlock + 300, rng);
        mixed.insert(mixed.end(), piece.begin(), piece.end());
    }
    all.push_back({"coded and uncoded blocks", mixed});
    return all;
}

std::vector<std::pair<NamedCutter, NamedCutter>> cuts() {
    return {
        {{"whole", whole()}, {"ample", ample()}},
        {{"random pieces", randomPieces(11, 5 * kBlock)}, {"random output", randomPieces(12, 30000)}},
        {{"pieces straddling blocks", endingAt({kBlock - 1, kBlock + 1, 7 * kBlock + 3})},
         {"1-byte output", bytes()}},
        {{"1-byte input", bytes()}, {"just under a block of output", [](std::size_t) { return std::size_t{8197}; }}},
    };
}

TEST(StreamingThreads, EncoderGivesZoltEncodesBytesForEveryThreadCountAndCut) {
    for (const Input& input : inputs()) {
        for (const std::uint32_t variant : {TAVRINE_VARIANT_UNCODED, TAVRINE_VARIANT_RANGE_CODED}) {
            const Bytes expected = tavrine::test::encodeOrFail(input.bytes, variant);
            for (const std::uint32_t threads : kThreadCounts) {
                for (const auto& [in, out] : cuts()) {
                    if (std::string(in.name) == "1-byte input" && input.bytes.size() > 3 * kBlock) continue;
                    ASSERT_EQ(encodeInPieces(input.bytes, variant, in.cut, out.cut, threads), expected)
                        << input.name << ", variant " << variant << ", " << threads << " threads, "
                        << in.name << ", " << out.name;
                }
            }
        }
    }
}

// The streaming decoder without threads is the reference: it agrees with
// ZOLT_Decode on every stream (stream_api_test.cpp).
void expectSameAsOneThread(const Bytes& stream, const std::string& what) {
    const Decoded reference = decodeInPieces(stream, whole(), ample());
    for (const std::uint32_t threads : kThreadCounts) {
        for (const auto& [in, out] : cuts()) {
            if (std::string(in.name) == "1-byte input" && stream.size() > 3 * kBlock) continue;
            const Decoded threaded = decodeInPieces(stream, in.cut, out.cut, threads);
            const std::string where = what + ", " + std::to_string(threads) + " threads, " + in.name +
                                      ", " + out.name;
            ASSERT_EQ(threaded.status, reference.status) << where;
            ASSERT_EQ(threaded.offset, reference.offset) << where;
            ASSERT_EQ(threaded.output, reference.output) << where;
        }
    }
}

TEST(StreamingThreads, DecoderAgreesWithOneThreadOnGoodDamagedAndTruncatedStreams) {
    std::mt19937 rng(77);
    for (const Input& input : inputs()) {
        const Bytes stream = tavrine::test::encodeOrFail(input.bytes, TAVRINE_VARIANT_RANGE_CODED);
        expectSameAsOneThread(stream, input.name);
        if (stream.size() < 4 * kBlock / 8) continue;
        // Damage late in the stream, where earlier blocks are still with the
        // workers when it is found: cuts, flipped bits, an implausible header.
        const std::vector<std::size_t> blocks = tavrine::test::blockOffsets(stream);
        const std::size_t late = blocks[blocks.size() * 3 / 4];
        expectSameAsOneThread(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(late + 7)),
                              input.name + ", cut inside a block");
        for (int flip = 0; flip < 3; ++flip) {
            Bytes bad = stream;
            const std::size_t at = std::uniform_int_distribution<std::size_t>(late, stream.size() - 1)(rng);
            bad[at] ^= static_cast<std::uint8_t>(1u << flip);
            expectSameAsOneThread(bad, input.name + ", bit flipped at " + std::to_string(at));
        }
        Bytes badHeader = stream;
        badHeader[late + 2] = 0;
        badHeader[late + 3] = 0;
        expectSameAsOneThread(badHeader, input.name + ", decoded length 0");
    }
}

// Workers that start partway through a stream take over the model and the
// move-to-front table the caller's thread left; at the very threshold, they
// start at once.
TEST(StreamingThreads, WorkersStartingPartwayThroughAStreamGiveTheSameBytes) {
    const Bytes input = tavrine::test::sampleText(30 * kBlock + 5);
    const Bytes stream = tavrine::test::encodeOrFail(input, TAVRINE_VARIANT_RANGE_CODED);
    const NamedCutter inCuts[] = {{"whole", whole()}, {"random pieces", randomPieces(3, 3 * kBlock)}};
    for (const NamedCutter& in : inCuts) {
        for (const std::uint64_t from : {std::uint64_t{10 * kBlock + 3}, std::uint64_t{input.size()}}) {
            const std::string where = std::string(in.name) + ", threads from " + std::to_string(from);
            EXPECT_EQ(encodeInPieces(input, TAVRINE_VARIANT_RANGE_CODED, in.cut, ample(), 2, from), stream)
                << where;
            const Decoded decoded = decodeInPieces(stream, in.cut, ample(), 2, from * stream.size() / input.size());
            EXPECT_EQ(decoded.status, TAVRINE_OK) << where;
            EXPECT_EQ(decoded.output, input) << where;
        }
    }
}

// A primary index past its block is found only once move-to-front is
// undone, on a worker, after the caller has decoded later blocks: a later
// block with a header no encoder writes must not be the one reported.
TEST(StreamingThreads, APrimaryIndexPastTheBlockIsReportedBeforeLaterDamage) {
    std::mt19937 rng(5);
    const Bytes stream = tavrine::test::encodeOrFail(tavrine::test::randomBytes(30 * kBlock, rng),
                                                     TAVRINE_VARIANT_UNCODED);
    const std::vector<std::size_t> blocks = tavrine::test::blockOffsets(stream);
    const std::size_t victim = blocks[20];
    Bytes bad = stream;
    bad[blocks[24] + 2] = 0;  // decoded length 0
    bool found = false;
    // The stored index's high byte, through move-to-front, until it names a
    // row past the block.
    for (int value = 0; value < 256 && !found; ++value) {
        bad[victim + 5] = static_cast<std::uint8_t>(value);
        bad[blocks[24] + 3] = 0;
        const Decoded reference = decodeInPieces(bad, whole(), ample());
        found = reference.status == TAVRINE_CORRUPT && reference.offset == victim;
    }
    ASSERT_TRUE(found);
    expectSameAsOneThread(bad, "primary index past the block, then a bad header");

    // Workers write the blocks behind the one at fault straight into the
    // host's window; once the call has failed, the window is the host's
    // again, and ThreadSanitizer sees any step still writing into it.
    for (const std::uint32_t threads : kThreadCounts) {
        for (int round = 0; round < 8; ++round) {
            tavrine_decoder* decoder = nullptr;
            ASSERT_EQ(tavrine_decoder_create(&decoder), TAVRINE_OK);
            ASSERT_EQ(tavrine_decoder_set_threads(decoder, threads), TAVRINE_OK);
            tavrine::testing::startThreadsFrom(decoder, 0);
            Bytes window(30 * kBlock);
            tavrine_out_buffer out{window.data(), window.size(), 0};
            tavrine_in_buffer in{bad.data(), bad.size(), 0};
            EXPECT_EQ(tavrine_decode_stream(decoder, &out, &in, TAVRINE_END, nullptr), TAVRINE_CORRUPT);
            std::fill(window.begin(), window.end(), std::uint8_t{0x5A});
            EXPECT_EQ(std::count(window.begin(), window.end(), std::uint8_t{0x5A}),
                      static_cast<std::ptrdiff_t>(window.size()));
            tavrine_decoder_free(decoder);
        }
    }
}

TEST(StreamingThreads, FlushWaitsForTheWorkersAndGivesTheOneThreadStream) {
    const Bytes input = tavrine::test::sampleText(12 * kBlock);
    const std::size_t flushes[] = {100, 5 * kBlock + 9, 5 * kBlock + 9, input.size()};
    std::vector<Bytes> streams;
    for (const std::uint32_t threads : {1u, 2u, 5u}) {
        tavrine_encoder* encoder = nullptr;
        ASSERT_EQ(tavrine_encoder_create(TAVRINE_VARIANT_RANGE_CODED, &encoder), TAVRINE_OK);
        ASSERT_EQ(tavrine_encoder_set_threads(encoder, threads), TAVRINE_OK);
        tavrine::testing::startThreadsFrom(encoder, 0);
        Bytes stream(tavrine_encode_bound(input.size()) + 4 * kBlock);
        tavrine_out_buffer out{stream.data(), stream.size(), 0};
        std::size_t given = 0;
        for (const std::size_t flushAt : flushes) {
            tavrine_in_buffer in{input.data() + given, flushAt - given, 0};
            std::size_t remaining = 1;
            ASSERT_EQ(tavrine_encode_stream(encoder, &out, &in, TAVRINE_FLUSH, &remaining), TAVRINE_OK);
            EXPECT_EQ(remaining, 0u);
            given = flushAt;
            const Bytes sofar(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(out.pos));
            EXPECT_EQ(tavrine::test::decodeOrFail(sofar),
                      Bytes(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(given)));
        }
        ASSERT_EQ(tavrine_encode_stream(encoder, &out, nullptr, TAVRINE_END, nullptr), TAVRINE_OK);
        tavrine_encoder_free(encoder);
        stream.resize(out.pos);
        streams.push_back(stream);
    }
    EXPECT_EQ(streams[1], streams[0]);
    EXPECT_EQ(streams[2], streams[0]);

    // A decoder's flush delivers every block given so far.
    tavrine_decoder* decoder = nullptr;
    ASSERT_EQ(tavrine_decoder_create(&decoder), TAVRINE_OK);
    ASSERT_EQ(tavrine_decoder_set_threads(decoder, 3), TAVRINE_OK);
    tavrine::testing::startThreadsFrom(decoder, 0);
    Bytes decoded(input.size());
    tavrine_out_buffer out{decoded.data(), decoded.size(), 0};
    tavrine_in_buffer in{streams[0].data(), streams[0].size(), 0};
    std::size_t remaining = 1;
    ASSERT_EQ(tavrine_decode_stream(decoder, &out, &in, TAVRINE_FLUSH, &remaining), TAVRINE_OK);
    EXPECT_EQ(remaining, 0u);
    EXPECT_EQ(out.pos, input.size());
    EXPECT_EQ(decoded, input);
    tavrine_decoder_free(decoder);
}

TEST(StreamingThreads, TheCountIsSetBeforeTheFirstInputAndWithinTheLimit) {
    tavrine_encoder* encoder = nullptr;
    ASSERT_EQ(tavrine_encoder_create(TAVRINE_VARIANT_RANGE_CODED, &encoder), TAVRINE_OK);
    EXPECT_EQ(tavrine_encoder_set_threads(nullptr, 2), TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_encoder_set_threads(encoder, TAVRINE_MAX_THREADS + 1), TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_encoder_set_threads(encoder, 4), TAVRINE_OK);
    EXPECT_EQ(tavrine_encoder_set_threads(encoder, 2), TAVRINE_OK);  // changed again, before input
    const Bytes text = tavrine::test::sampleText(3 * kBlock);
    Bytes stream(tavrine_encode_bound(text.size()));
    tavrine_out_buffer out{stream.data(), stream.size(), 0};
    tavrine_in_buffer in{text.data(), text.size(), 0};
    ASSERT_EQ(tavrine_encode_stream(encoder, &out, &in, TAVRINE_CONTINUE, nullptr), TAVRINE_OK);
    EXPECT_EQ(tavrine_encoder_set_threads(encoder, 1), TAVRINE_BAD_ARGUMENT);
    ASSERT_EQ(tavrine_encode_stream(encoder, &out, nullptr, TAVRINE_END, nullptr), TAVRINE_OK);
    stream.resize(out.pos);
    EXPECT_EQ(stream, tavrine::test::encodeOrFail(text, TAVRINE_VARIANT_RANGE_CODED));
    tavrine_encoder_free(encoder);

    tavrine_decoder* decoder = nullptr;
    ASSERT_EQ(tavrine_decoder_create(&decoder), TAVRINE_OK);
    EXPECT_EQ(tavrine_decoder_set_threads(nullptr, 2), TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_decoder_set_threads(decoder, TAVRINE_MAX_THREADS + 1), TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_decoder_set_threads(decoder, 2), TAVRINE_OK);
    Bytes decoded(text.size());
    tavrine_out_buffer into{decoded.data(), decoded.size(), 0};
    tavrine_in_buffer from{stream.data(), 10, 0};
    ASSERT_EQ(tavrine_decode_stream(decoder, &into, &from, TAVRINE_CONTINUE, nullptr), TAVRINE_OK);
    EXPECT_EQ(tavrine_decoder_set_threads(decoder, 3), TAVRINE_BAD_ARGUMENT);
    tavrine_decoder_free(decoder);
}

}  // namespace
