// Streaming calls for tests: input and output cut into pieces by a rule,
// the stream or the decoded bytes gathered, with the encoder or decoder
// given worker threads or not.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "api/stream_testing.h"
#include "support/codec_calls.h"
#include "support/test_data.h"
#include "tavrine_api.h"

namespace tavrine::test::pieces {

constexpr std::size_t kBlock = 8192;

// Gives the length of the next piece of input or output, starting at `at`.
using Cutter = std::function<std::size_t(std::size_t at)>;

struct NamedCutter {
    const char* name;
    Cutter cut;
};

inline Cutter whole() {
    return [](std::size_t) { return std::size_t{1} << 24; };
}
// Room for several of the largest blocks, so that every block can go straight out.
inline Cutter ample() {
    return [](std::size_t) { return std::size_t{1} << 17; };
}
inline Cutter bytes() {
    return [](std::size_t) { return std::size_t{1}; };
}
inline Cutter randomPieces(unsigned seed, std::size_t largest) {
    auto rng = std::make_shared<std::mt19937>(seed);
    return [rng, largest](std::size_t) {
        return std::uniform_int_distribution<std::size_t>(1, largest)(*rng);
    };
}
// Pieces that end at the given offsets, then whole.
inline Cutter endingAt(std::set<std::size_t> offsets) {
    return [offsets = std::move(offsets)](std::size_t at) {
        const auto next = offsets.upper_bound(at);
        return next == offsets.end() ? std::size_t{1} << 24 : *next - at;
    };
}

// Cut points one to five bytes either side of every block boundary: pieces
// that end inside headers and straddle them.
inline std::set<std::size_t> aroundBlocks(const Bytes& stream) {
    std::set<std::size_t> cuts;
    for (const std::size_t boundary : tavrine::test::blockOffsets(stream)) {
        for (std::size_t d = 1; d <= 5; ++d) {
            if (boundary >= d) cuts.insert(boundary - d);
            cuts.insert(boundary + d);
        }
    }
    return cuts;
}

// threads: the encoder's threads (0 or 1: the caller's alone), which start
// once threadsFrom source bytes are in sight rather than on long streams only.
inline Bytes encodeInPieces(const Bytes& input, std::uint32_t variant, const Cutter& inCut,
                            const Cutter& outCut, std::uint32_t threads = 1,
                            std::uint64_t threadsFrom = 0) {
    tavrine_encoder* encoder = nullptr;
    EXPECT_EQ(tavrine_encoder_create(variant, &encoder), TAVRINE_OK);
    EXPECT_EQ(tavrine_encoder_set_threads(encoder, threads), TAVRINE_OK);
    tavrine::testing::startThreadsFrom(encoder, threadsFrom);
    Bytes stream;
    Bytes buffer;  // reused: the output windows are cut from its front
    std::size_t at = 0;
    bool last = false;
    while (!last) {
        const std::size_t piece = std::min(inCut(at), input.size() - at);
        last = at + piece == input.size();
        const tavrine_directive directive = last ? TAVRINE_END : TAVRINE_CONTINUE;
        tavrine_in_buffer in{input.data() + at, piece, 0};
        std::size_t remaining = 0;
        do {
            const std::size_t room = outCut(stream.size());
            if (buffer.size() < room) buffer.resize(room);
            tavrine_out_buffer out{buffer.data(), room, 0};
            const tavrine_status status = tavrine_encode_stream(encoder, &out, &in, directive, &remaining);
            EXPECT_EQ(status, TAVRINE_OK);
            if (status != TAVRINE_OK) break;
            stream.insert(stream.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(out.pos));
        } while (in.pos < in.size || (last && remaining != 0));
        at += piece;
    }
    tavrine_encoder_free(encoder);
    return stream;
}

struct Decoded {
    tavrine_status status = TAVRINE_OK;
    Bytes output;
    std::uint64_t offset = 0;  // the decoder's block offset at the end
};

inline Decoded decodeInPieces(const Bytes& stream, const Cutter& inCut, const Cutter& outCut,
                              std::uint32_t threads = 1, std::uint64_t threadsFrom = 0) {
    tavrine_decoder* decoder = nullptr;
    Decoded result;
    result.status = tavrine_decoder_create(&decoder);
    if (result.status == TAVRINE_OK) result.status = tavrine_decoder_set_threads(decoder, threads);
    if (result.status == TAVRINE_OK) tavrine::testing::startThreadsFrom(decoder, threadsFrom);
    Bytes buffer;
    std::size_t at = 0;
    bool last = false;
    while (!last && result.status == TAVRINE_OK) {
        const std::size_t piece = std::min(inCut(at), stream.size() - at);
        last = at + piece == stream.size();
        tavrine_in_buffer in{stream.data() + at, piece, 0};
        std::size_t remaining = 0;
        do {
            const std::size_t room = outCut(result.output.size());
            if (buffer.size() < room) buffer.resize(room);
            tavrine_out_buffer out{buffer.data(), room, 0};
            result.status = tavrine_decode_stream(decoder, &out, &in, last ? TAVRINE_END : TAVRINE_CONTINUE,
                                                  &remaining);
            result.output.insert(result.output.end(), buffer.begin(),
                                 buffer.begin() + static_cast<std::ptrdiff_t>(out.pos));
        } while (result.status == TAVRINE_OK && (in.pos < in.size || remaining != 0));
        at += piece;
    }
    result.offset = tavrine_decoder_offset(decoder);
    tavrine_decoder_free(decoder);
    return result;
}

}  // namespace tavrine::test::pieces
