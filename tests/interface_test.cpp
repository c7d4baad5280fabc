// The version and capability queries, through the shared library's exports.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/test_data.h"
#include "tavrine.h"

namespace {

using tavrine::test::Bytes;
using tavrine::test::hex;

constexpr std::uint32_t kUntouched = 0xDEADBEEF;

TEST(InterfaceVersion, ModuleVersionIsAcceptedByItsOwnCheck) {
    std::uint32_t version = kUntouched;
    ASSERT_EQ(ZOLT_GetInterfaceVersion(&version, 0), 1);
    EXPECT_EQ(version, 0x007D84A0u);
    EXPECT_EQ(version, 8225952u);
    EXPECT_EQ(ZOLT_VerifyInterfaceVersion(version, 0), 1);
    EXPECT_EQ(ZOLT_GetInterfaceVersion(nullptr, 0), 0);
}

TEST(InterfaceVersion, GetEqualsMakeWithTheModuleFields) {
    std::uint32_t made = 0;
    std::uint32_t got = 0;
    ASSERT_EQ(ZOLT_MakeInterfaceVersion(&made, 12345, 0, 0, 2008, 4, 20, 0), 1);
    ASSERT_EQ(ZOLT_GetInterfaceVersion(&got, 0xFFFFFFFF), 1);
    EXPECT_EQ(made, got);
}

TEST(InterfaceVersion, VerifyLooksAtTheMajorFieldOnly) {
    EXPECT_EQ(ZOLT_VerifyInterfaceVersion(0x80000000u, 0), 1);
    EXPECT_EQ(ZOLT_VerifyInterfaceVersion(0x01FFFFFFu, 0), 1);
    EXPECT_EQ(ZOLT_VerifyInterfaceVersion(0x00000000u, 7), 1);
    EXPECT_EQ(ZOLT_VerifyInterfaceVersion(0x02000000u, 0), 0);
    EXPECT_EQ(ZOLT_VerifyInterfaceVersion(0x7E000000u, 0), 0);
    EXPECT_EQ(ZOLT_VerifyInterfaceVersion(0x40000000u, 0), 0);
    EXPECT_EQ(ZOLT_VerifyInterfaceVersion(0xFFFFFFFFu, 0), 0);
}

TEST(InterfaceVersion, MakePacksEveryFieldAtItsPlace) {
    std::uint32_t v = 0;
    ASSERT_EQ(ZOLT_MakeInterfaceVersion(&v, 0, 63, 1, 4095, 15, 31, 7), 1);
    EXPECT_EQ(v, 0x7FFFFFFFu);
    ASSERT_EQ(ZOLT_MakeInterfaceVersion(&v, 0, 1, 0, 0, 0, 0, 0), 1);
    EXPECT_EQ(v, 1u << 25);
    ASSERT_EQ(ZOLT_MakeInterfaceVersion(&v, 0, 0, 1, 0, 0, 0, 0), 1);
    EXPECT_EQ(v, 1u << 24);
    ASSERT_EQ(ZOLT_MakeInterfaceVersion(&v, 0, 0, 0, 1, 0, 0, 0), 1);
    EXPECT_EQ(v, 1u << 12);
    ASSERT_EQ(ZOLT_MakeInterfaceVersion(&v, 0, 0, 0, 0, 1, 0, 0), 1);
    EXPECT_EQ(v, 1u << 8);
    ASSERT_EQ(ZOLT_MakeInterfaceVersion(&v, 0, 0, 0, 0, 0, 1, 0), 1);
    EXPECT_EQ(v, 1u << 3);
    ASSERT_EQ(ZOLT_MakeInterfaceVersion(&v, 0, 0, 0, 0, 0, 0, 1), 1);
    EXPECT_EQ(v, 1u);
    // No calendar check: month 0 and day 0 pack like any other value.
    ASSERT_EQ(ZOLT_MakeInterfaceVersion(&v, 0, 0, 0, 0, 0, 0, 0), 1);
    EXPECT_EQ(v, 0u);
}

TEST(InterfaceVersion, MakeRejectsEachFieldOutOfRangeAndLeavesTheWord) {
    struct Fields {
        std::uint32_t major, flag, year, month, day, serial;
    };
    const Fields rejected[] = {
        {64, 0, 2008, 4, 20, 0},         {0, 2, 2008, 4, 20, 0},  {0, 0, 4096, 4, 20, 0},
        {0, 0, 2008, 16, 20, 0},         {0, 0, 2008, 4, 32, 0},  {0, 0, 2008, 4, 20, 8},
        {0xFFFFFFFFu, 0, 2008, 4, 20, 0},  // negative as a signed number: still unsigned here
        {0, 0, 0x80000000u, 4, 20, 0},
    };
    for (const Fields& f : rejected) {
        std::uint32_t v = kUntouched;
        EXPECT_EQ(ZOLT_MakeInterfaceVersion(&v, 0, f.major, f.flag, f.year, f.month, f.day, f.serial), 0);
        EXPECT_EQ(v, kUntouched);
    }
    EXPECT_EQ(ZOLT_MakeInterfaceVersion(nullptr, 0, 0, 0, 2008, 4, 20, 0), 0);
}

TEST(TypeTables, EncodeTableListsBothVariantsOfTypeTwo) {
    const std::uint32_t* table = nullptr;
    std::uint32_t count = 0;
    ASSERT_EQ(ZOLT_GetSupportedEncodeType(&table, &count), 1);
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(std::vector<std::uint32_t>(table, table + 2 * count),
              (std::vector<std::uint32_t>{2, 0, 2, 5}));
    // The table stays where it is: a second query hands out the same address.
    const std::uint32_t* again = nullptr;
    ASSERT_EQ(ZOLT_GetSupportedEncodeType(&again, nullptr), 1);
    EXPECT_EQ(again, table);
}

TEST(TypeTables, DecodeTableListsTypeTwo) {
    const std::uint32_t* table = nullptr;
    std::uint32_t count = 0;
    ASSERT_EQ(ZOLT_GetSupportedDecodeType(&table, &count), 1);
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(table[0], 2u);
}

TEST(TypeTables, ListingSkipsNullPointers) {
    EXPECT_EQ(ZOLT_GetSupportedEncodeType(nullptr, nullptr), 1);
    EXPECT_EQ(ZOLT_GetSupportedDecodeType(nullptr, nullptr), 1);
    std::uint32_t count = kUntouched;
    EXPECT_EQ(ZOLT_GetSupportedEncodeType(nullptr, &count), 1);
    EXPECT_EQ(count, 2u);
    const std::uint32_t* table = nullptr;
    EXPECT_EQ(ZOLT_GetSupportedDecodeType(&table, nullptr), 1);
    EXPECT_NE(table, nullptr);
}

TEST(TypeTables, EncodeTypeTestAcceptsExactlyTheTablePairs) {
    EXPECT_EQ(ZOLT_IsSupportedEncodeType(2, 0), 1);
    EXPECT_EQ(ZOLT_IsSupportedEncodeType(2, 5), 1);
    EXPECT_EQ(ZOLT_IsSupportedEncodeType(2, 1), 0);
    EXPECT_EQ(ZOLT_IsSupportedEncodeType(5, 2), 0);
    EXPECT_EQ(ZOLT_IsSupportedEncodeType(0, 2), 0);
    EXPECT_EQ(ZOLT_IsSupportedEncodeType(0, 0), 0);
    EXPECT_EQ(ZOLT_IsSupportedEncodeType(2, 2), 0);
    EXPECT_EQ(ZOLT_IsSupportedEncodeType(3, 5), 0);
}

TEST(TypeTables, DecodeTypeTestAcceptsTypeTwoOnly) {
    EXPECT_EQ(ZOLT_IsSupportedDecodeType(2), 1);
    for (const std::uint32_t other : {0u, 1u, 3u, 5u, 0x102u, 0xFFFFFFFFu}) {
        EXPECT_EQ(ZOLT_IsSupportedDecodeType(other), 0) << other;
    }
}

TEST(MaximumEncodedLength, LeavesRoomForOneMoreFullBlock) {
    const std::pair<std::uint32_t, std::uint32_t> expected[] = {
        {0, 8198}, {1, 16396}, {8192, 16396}, {8193, 24594}, {65536, 73782},
        {4291813376u, 4294964992u},  // the largest exact result
    };
    for (const std::uint32_t variant : {0u, 5u}) {
        for (const auto& [srcLen, bound] : expected) {
            std::uint32_t out = kUntouched;
            ASSERT_EQ(ZOLT_GetMaximumEncodedLength(2, variant, srcLen, &out), 1);
            EXPECT_EQ(out, bound) << "srcLen " << srcLen;
        }
    }
}

TEST(MaximumEncodedLength, WrapsInThirtyTwoBitsAboveTheExactRange) {
    std::uint32_t out = 0;
    // 523,905 blocks of 8198 bytes need 4,294,973,190 bytes, which wraps to 5,894.
    ASSERT_EQ(ZOLT_GetMaximumEncodedLength(2, 5, 4291813377u, &out), 1);
    EXPECT_EQ(out, 5894u);
    // Here the rounding up of the block count already wraps: 0 blocks, plus one.
    ASSERT_EQ(ZOLT_GetMaximumEncodedLength(2, 0, 0xFFFFFFFFu, &out), 1);
    EXPECT_EQ(out, 8198u);
}

TEST(MaximumEncodedLength, RejectsUnsupportedPairsAndNullResult) {
    std::uint32_t out = kUntouched;
    EXPECT_EQ(ZOLT_GetMaximumEncodedLength(2, 1, 100, &out), 0);
    EXPECT_EQ(ZOLT_GetMaximumEncodedLength(3, 5, 100, &out), 0);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(ZOLT_GetMaximumEncodedLength(2, 5, 100, nullptr), 0);
}

// Builds a stream of raw block headers with zero-filled payloads.
Bytes headersOnly(std::initializer_list<std::pair<std::uint16_t, std::uint16_t>> blocks) {
    Bytes stream;
    for (const auto& [size, decoded] : blocks) {
        const std::size_t at = stream.size();
        stream.resize(at + std::max<std::size_t>(size, 4), 0);
        stream[at] = static_cast<std::uint8_t>(size);
        stream[at + 1] = static_cast<std::uint8_t>(size >> 8);
        stream[at + 2] = static_cast<std::uint8_t>(decoded);
        stream[at + 3] = static_cast<std::uint8_t>(decoded >> 8);
    }
    return stream;
}

std::uint32_t size32(const Bytes& b) { return static_cast<std::uint32_t>(b.size()); }

TEST(DecodedLength, SumsTheHeadersOfAWellTiledStream) {
    const Bytes stream = hex("09 00 03 00 00 00 63 62 63");  // "abc", one uncoded block
    std::uint32_t out = kUntouched;
    ASSERT_EQ(ZOLT_GetDecodedLength(2, stream.data(), size32(stream), &out), 1);
    EXPECT_EQ(out, 3u);

    const Bytes blocks = headersOnly({{8198, 8192}, {14, 16}, {7, 1}});
    ASSERT_EQ(ZOLT_GetDecodedLength(2, blocks.data(), size32(blocks), &out), 1);
    EXPECT_EQ(out, 8209u);
}

TEST(DecodedLength, ReadsHeadersOnlyAndNotTheDecoderRules) {
    // Block size 5 with decoded length 0 and an impossible payload still tiles.
    const Bytes stream = headersOnly({{5, 0}, {65535, 65535}});
    std::uint32_t out = kUntouched;
    ASSERT_EQ(ZOLT_GetDecodedLength(2, stream.data(), size32(stream), &out), 1);
    EXPECT_EQ(out, 65535u);
}

TEST(DecodedLength, EmptyStreamNeedsNoSource) {
    std::uint32_t out = kUntouched;
    ASSERT_EQ(ZOLT_GetDecodedLength(2, nullptr, 0, &out), 1);
    EXPECT_EQ(out, 0u);
}

TEST(DecodedLength, ArgumentChecksComeInOrder) {
    const Bytes stream = hex("09 00 03 00 00 00 63 62 63");
    std::uint32_t out = kUntouched;
    EXPECT_EQ(ZOLT_GetDecodedLength(2, stream.data(), size32(stream), nullptr), 0);
    EXPECT_EQ(ZOLT_GetDecodedLength(3, nullptr, 0, &out), 0);  // type before srcLen 0
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(ZOLT_GetDecodedLength(2, nullptr, 9, &out), 0);
    EXPECT_EQ(out, kUntouched);
}

TEST(DecodedLength, TrailingBytesFailWithThePrefixLength) {
    for (std::size_t extra = 1; extra <= 4; ++extra) {
        Bytes stream = headersOnly({{9, 3}, {20, 100}});
        stream.resize(stream.size() + extra, 0xAB);
        std::uint32_t out = kUntouched;
        EXPECT_EQ(ZOLT_GetDecodedLength(2, stream.data(), size32(stream), &out), 0) << extra;
        EXPECT_EQ(out, 103u) << extra;
    }
}

TEST(DecodedLength, ZeroBlockSizeFailsInsteadOfLooping) {
    const Bytes stream = headersOnly({{9, 3}, {0, 7}, {9, 3}});
    std::uint32_t out = kUntouched;
    EXPECT_EQ(ZOLT_GetDecodedLength(2, stream.data(), size32(stream), &out), 0);
    EXPECT_EQ(out, 3u);
}

TEST(DecodedLength, BlockReachingPastTheEndFails) {
    Bytes stream = headersOnly({{9, 3}, {9, 3}});
    stream.pop_back();
    std::uint32_t out = kUntouched;
    EXPECT_EQ(ZOLT_GetDecodedLength(2, stream.data(), size32(stream), &out), 0);
    EXPECT_EQ(out, 3u);
}

TEST(DecodedLength, ShortStreamsFailAtTheHeader) {
    const Bytes stream = hex("09 00 03 00");
    for (std::uint32_t length = 1; length <= 4; ++length) {
        std::uint32_t out = kUntouched;
        EXPECT_EQ(ZOLT_GetDecodedLength(2, stream.data(), length, &out), 0);
        EXPECT_EQ(out, 0u);
    }
}

}  // namespace
