// tavrine.hpp, compiled as C++17: the one-shot functions and the streaming
// classes give the C calls' bytes, and failures throw with status and offset.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "support/codec_calls.h"
#include "support/test_data.h"
#include "tavrine.hpp"

namespace {

using tavrine::test::Bytes;

static_assert(__cplusplus == 201703L, "the wrapper is tested as C++17");

Bytes sample() {
    std::mt19937 rng(17);
    return tavrine::test::skewedBytes(3 * 8192 + 5, rng);
}

TEST(Wrapper, OneShotFromAnyByteContainer) {
    const std::string text = "abracadabra";
    const Bytes expected = tavrine::test::hex("11 00 0B 00 02 01 72 65 63 02 65 02 00 00 00 65 00");
    EXPECT_EQ(tavrine::encode(text), expected);
    EXPECT_EQ(tavrine::encode(std::string_view(text), TAVRINE_VARIANT_UNCODED), expected);
    const std::array<char, 3> abc = {'a', 'b', 'c'};
    EXPECT_EQ(tavrine::test::toHex(tavrine::encode(abc)), "09 00 03 00 00 00 63 62 63");
    EXPECT_EQ(tavrine::decode(expected), tavrine::test::ascii(text));
    EXPECT_TRUE(tavrine::encode(tavrine::bytes_view()).empty());
    EXPECT_TRUE(tavrine::decode(Bytes()).empty());
    EXPECT_STREQ(tavrine::version(), tavrine_version());
}

TEST(Wrapper, StreamingClassesInPiecesEqualTheOneShotCalls) {
    const Bytes input = sample();
    const Bytes stream = tavrine::encode(input);
    tavrine::Encoder encoder;
    Bytes encoded;
    for (std::size_t at = 0; at < input.size(); at += 1000) {
        encoder.update(tavrine::bytes_view(input.data() + at, std::min<std::size_t>(1000, input.size() - at)),
                       encoded);
    }
    tavrine::Encoder moved = std::move(encoder);  // the handle goes with it
    moved.finish(encoded);
    EXPECT_EQ(encoded, stream);

    tavrine::Decoder decoder;
    Bytes decoded;
    for (std::size_t at = 0; at < stream.size(); at += 777) {
        decoder.update(tavrine::bytes_view(stream.data() + at, std::min<std::size_t>(777, stream.size() - at)),
                       decoded);
    }
    decoder.finish(decoded);
    EXPECT_EQ(decoded, input);
    EXPECT_EQ(decoder.offset(), stream.size());
}

TEST(Wrapper, FailuresThrowWithStatusAndOffset) {
    const Bytes input = sample();
    const Bytes stream = tavrine::encode(input);
    const std::size_t second = tavrine::test::blockOffsets(stream)[1];
    const Bytes cut(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(second + 7));
    try {
        tavrine::decode(cut);
        ADD_FAILURE() << "a cut stream decoded";
    } catch (const tavrine::error& error) {
        EXPECT_EQ(error.status(), TAVRINE_TRUNCATED);
        EXPECT_EQ(error.offset(), second);
        EXPECT_EQ(std::string(error.what()), "tavrine: truncated data at stream offset " + std::to_string(second));
    }
    tavrine::Decoder decoder;
    Bytes decoded;
    decoder.update(cut, decoded);
    try {
        decoder.finish(decoded);
        ADD_FAILURE() << "a cut stream finished";
    } catch (const tavrine::error& error) {
        EXPECT_EQ(error.status(), TAVRINE_TRUNCATED);
        EXPECT_EQ(error.offset(), second);
    }
    EXPECT_EQ(decoded, Bytes(input.begin(), input.begin() + 8192));  // the block before the cut

    Bytes damaged = stream;
    damaged[second] = 0;  // block size 0 or a little more
    damaged[second + 1] = 0;
    tavrine::Decoder strict;
    Bytes partial;
    try {
        strict.update(damaged, partial);
        ADD_FAILURE() << "a damaged stream decoded";
    } catch (const tavrine::error& error) {
        EXPECT_EQ(error.status(), TAVRINE_CORRUPT);
        EXPECT_EQ(error.offset(), second);
    }
    try {
        tavrine::Encoder wrong(3);
        ADD_FAILURE() << "variant 3 was taken";
    } catch (const tavrine::error& error) {
        EXPECT_EQ(error.status(), TAVRINE_BAD_ARGUMENT);
    }
}

}  // namespace
