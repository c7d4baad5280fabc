// The .tvr header and frames: exact bytes, and damage to any bit detected.
#include <gtest/gtest.h>

#include <string>

#include "byte_io.h"
#include "checksum.h"
#include "support/test_data.h"
#include "tvr_format.h"
#include "tvr_writer.h"

namespace tavrine::tool {
namespace {

using test::Bytes;
using test::hex;

template <std::size_t N>
Bytes toBytes(const std::array<std::uint8_t, N>& array) {
    return Bytes(array.begin(), array.end());
}

std::string headerError(const Bytes& bytes) {
    try {
        decodeHeader(std::span<const std::uint8_t, kHeaderSize>(bytes.data(), kHeaderSize));
    } catch (const FormatError& error) {
        return error.what();
    }
    return "accepted";
}

// A header with the given fields and a check that matches them.
Bytes sealedHeader(std::uint8_t version, std::uint8_t variant, std::uint16_t flags,
                   std::uint32_t segmentSize) {
    Bytes bytes = {0x89, 'T', 'V', 'R', version, variant, static_cast<std::uint8_t>(flags),
                   static_cast<std::uint8_t>(flags >> 8)};
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(segmentSize >> (8 * i)));
    const std::uint32_t check = frameCheck(bytes);
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(check >> (8 * i)));
    return bytes;
}

TEST(TvrFormat, EmptyInputGivesTheDocumentedFortyFourBytes) {
    MemorySource source(std::span<const std::uint8_t>{});
    VectorSink sink;
    compressToTvr(source, sink, CompressSettings{});
    EXPECT_EQ(test::toHex(sink.bytes()),
              test::toHex(hex("89 54 56 52 01 05 00 00 00 00 10 00 36 91 F7 96 "
                              "45 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                              "C2 94 D3 38 05 80 06 2D B3 F4 B4 98")));
    // The content checksum of nothing is XXH3-64's well-known empty value.
    EXPECT_EQ(contentChecksum({}), 0x2D06800538D394C2u);
}

TEST(TvrFormat, ThreeBytesGiveTheDocumentedEightyOneBytes) {
    const Bytes abc = test::ascii("abc");
    MemorySource source(abc);
    VectorSink sink;
    compressToTvr(source, sink, CompressSettings{5, kMinSegmentSize, 1});
    EXPECT_EQ(test::toHex(sink.bytes()),
              test::toHex(hex("89 54 56 52 01 05 00 00 00 10 00 00 04 EA 03 28 "
                              "53 00 00 00 09 00 00 00 03 00 00 00 50 39 2F 89 "
                              "94 5F AF 78 54 DC EC 0A D9 67 E0 26 09 00 03 00 "
                              "00 00 63 62 63 45 00 00 00 01 00 00 00 03 00 00 "
                              "00 00 00 00 00 50 39 2F 89 94 5F AF 78 B4 D0 D9 FD")));
}

TEST(TvrFormat, HeaderRoundTripsItsFields) {
    for (const std::uint8_t variant : {std::uint8_t{0}, std::uint8_t{5}}) {
        for (const std::uint32_t size : {kMinSegmentSize, kDefaultSegmentSize, kMaxSegmentSize}) {
            const auto bytes = encodeHeader(FileHeader{variant, size});
            const FileHeader header = decodeHeader(bytes);
            EXPECT_EQ(header.variant, variant);
            EXPECT_EQ(header.segmentSize, size);
        }
    }
}

TEST(TvrFormat, EveryBitFlipInTheHeaderIsRefused) {
    const Bytes good = toBytes(encodeHeader(FileHeader{}));
    for (std::size_t bit = 0; bit < good.size() * 8; ++bit) {
        Bytes bad = good;
        bad[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        const std::string error = headerError(bad);
        if (bit < 32) {
            EXPECT_EQ(error, "not a tavrine file") << "bit " << bit;
        } else {
            EXPECT_EQ(error, "damaged file header -- the file is corrupted") << "bit " << bit;
        }
    }
}

TEST(TvrFormat, HeaderFieldsOutsideTheFormatAreRefusedByName) {
    EXPECT_EQ(headerError(sealedHeader(1, 5, 0, kDefaultSegmentSize)), "accepted");
    EXPECT_EQ(headerError(sealedHeader(2, 5, 0, kDefaultSegmentSize)),
              "written in format version 2, which this tavrine does not read (it reads version 1)");
    EXPECT_EQ(headerError(sealedHeader(1, 5, 0x0100, kDefaultSegmentSize)),
              "uses features this tavrine does not know (header flags 256)");
    EXPECT_EQ(headerError(sealedHeader(1, 3, 0, kDefaultSegmentSize)), "written with unknown variant 3");
    EXPECT_EQ(headerError(sealedHeader(1, 0, 0, kMinSegmentSize - 1)), "unsupported segment size 4095");
    EXPECT_EQ(headerError(sealedHeader(1, 0, 0, kMaxSegmentSize + 1)),
              "unsupported segment size 67108865");
    EXPECT_EQ(headerError(hex("50 4B 03 04 14 00 00 00 08 00 00 00 00 00 00 00")), "not a tavrine file");
}

TEST(TvrFormat, MagicIsNoValidFirstBlockOfABareStream) {
    // A bare stream starts with its first block's size, 7 to 8198 as the
    // encoder writes it; the magic read that way is far larger, so the two
    // kinds of file are never confused.
    const std::uint32_t asBlockSize = kMagic[0] | (std::uint32_t{kMagic[1]} << 8);
    EXPECT_GT(asBlockSize, 8198u);
    EXPECT_TRUE(startsLikeMagic(hex("89 54")));
    EXPECT_FALSE(startsLikeMagic(hex("89 55")));
}

TEST(TvrFormat, SegmentFrameLayoutAndRoundTrip) {
    const SegmentFrame frame{0x01020304, 0x00100000, 0x1122334455667788, 0xCAFEF00D};
    const Bytes bytes = toBytes(encodeSegmentFrame(frame));
    ASSERT_EQ(bytes.size(), kSegmentFrameSize);
    EXPECT_EQ(test::toHex(Bytes(bytes.begin(), bytes.begin() + 24)),
              "53 00 00 00 04 03 02 01 00 00 10 00 88 77 66 55 44 33 22 11 0D F0 FE CA");
    const auto decoded = decodeSegmentFrame(std::span<const std::uint8_t, kSegmentFrameSize>(bytes.data(), kSegmentFrameSize));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->storedSize, frame.storedSize);
    EXPECT_EQ(decoded->decodedSize, frame.decodedSize);
    EXPECT_EQ(decoded->checksum, frame.checksum);
    EXPECT_EQ(decoded->storedCheck, frame.storedCheck);
}

TEST(TvrFormat, EndFrameLayoutAndRoundTrip) {
    const EndFrame frame{7, 0x0000000123456789, 0xA1A2A3A4A5A6A7A8};
    const Bytes bytes = toBytes(encodeEndFrame(frame));
    ASSERT_EQ(bytes.size(), kEndFrameSize);
    EXPECT_EQ(test::toHex(Bytes(bytes.begin(), bytes.begin() + 24)),
              "45 00 00 00 07 00 00 00 89 67 45 23 01 00 00 00 A8 A7 A6 A5 A4 A3 A2 A1");
    const auto decoded = decodeEndFrame(std::span<const std::uint8_t, kEndFrameSize>(bytes.data(), kEndFrameSize));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->segmentCount, frame.segmentCount);
    EXPECT_EQ(decoded->decodedSize, frame.decodedSize);
    EXPECT_EQ(decoded->checksum, frame.checksum);
}

TEST(TvrFormat, EveryBitFlipInAFrameIsRefused) {
    const Bytes segment = toBytes(encodeSegmentFrame(SegmentFrame{100, 200, 300, 400}));
    const Bytes end = toBytes(encodeEndFrame(EndFrame{1, 200, 300}));
    for (std::size_t bit = 0; bit < segment.size() * 8; ++bit) {
        Bytes bad = segment;
        bad[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        EXPECT_FALSE(decodeSegmentFrame(std::span<const std::uint8_t, kSegmentFrameSize>(bad.data(), kSegmentFrameSize)))
            << "bit " << bit;
    }
    for (std::size_t bit = 0; bit < end.size() * 8; ++bit) {
        Bytes bad = end;
        bad[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        EXPECT_FALSE(decodeEndFrame(std::span<const std::uint8_t, kEndFrameSize>(bad.data(), kEndFrameSize)))
            << "bit " << bit;
    }
}

}  // namespace
}  // namespace tavrine::tool
