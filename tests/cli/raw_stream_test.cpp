// --raw mode through the library: byte for byte ZOLT_Encode's stream, decoded
// with the length the block headers announce; damage refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "byte_io.h"
#include "progress.h"
#include "raw_stream.h"
#include "support/test_data.h"
#include "tavrine.h"

namespace tavrine::tool {
namespace {

using test::Bytes;

// The stream straight from the module, sized as a host sizes it.
Bytes moduleStream(std::uint32_t variant, const Bytes& input) {
    std::uint32_t bound = 0;
    EXPECT_EQ(ZOLT_GetMaximumEncodedLength(2, variant, static_cast<std::uint32_t>(input.size()), &bound), 1);
    Bytes stream(bound);
    std::uint32_t length = bound;
    EXPECT_EQ(ZOLT_Encode(2, variant, input.data(), static_cast<std::uint32_t>(input.size()), stream.data(),
                          &length, nullptr, nullptr),
              1);
    stream.resize(length);
    return stream;
}

Bytes rawCompress(const Bytes& input, std::uint8_t variant) {
    MemorySource source(input);
    VectorSink sink;
    compressRaw(source, sink, variant);
    return sink.bytes();
}

Bytes rawDecompress(const Bytes& stream) {
    MemorySource source(stream);
    VectorSink sink;
    decompressRaw(source, sink);
    return sink.bytes();
}

TEST(RawStream, CompressionIsTheModulesStreamAndDecodesBack) {
    for (const auto& [kind, length] : {std::pair{test::SampleKind::text, 152089u},
                                       std::pair{test::SampleKind::records, 38240u},
                                       std::pair{test::SampleKind::constant, 1u}}) {
        const Bytes input = test::generateSample(kind, length);
        const std::string_view name = test::sampleKindName(kind);
        for (const std::uint8_t variant : {std::uint8_t{0}, std::uint8_t{5}}) {
            const Bytes stream = rawCompress(input, variant);
            EXPECT_EQ(stream, moduleStream(variant, input)) << name << " variant " << int{variant};
            EXPECT_EQ(rawDecompress(stream), input) << name;
        }
    }
}

TEST(RawStream, WorkedStreamsOfTheFormat) {
    EXPECT_EQ(test::toHex(rawCompress(test::ascii("abc"), 5)), "09 00 03 00 00 00 63 62 63");
    EXPECT_EQ(rawDecompress(test::hex("11 00 0B 00 02 01 72 65 63 02 65 02 00 00 00 65 00")),
              test::ascii("abracadabra"));
    EXPECT_TRUE(rawCompress({}, 5).empty());
    EXPECT_TRUE(rawDecompress({}).empty());
}

TEST(RawStream, DamageIsRefusedNotDecoded) {
    const std::string untiled =
        "not a bare tavrine stream, or a damaged one: its block headers do not add up -- the file is corrupted";
    for (const char* bad : {"09 00 03 00 00 00 63 62", "09 00 03 00 00 00 63 62 63 00", "00 00 03 00 00"}) {
        const Bytes stream = test::hex(bad);
        MemorySource source(stream);
        VectorSink sink;
        try {
            decompressRaw(source, sink);
            ADD_FAILURE() << bad << " decoded";
        } catch (const FormatError& error) {
            EXPECT_EQ(error.what(), untiled) << bad;
        }
        EXPECT_TRUE(sink.bytes().empty());
    }
    // Headers that tile but a payload that does not decode: a primary index past the block.
    const Bytes stream = test::hex("09 00 03 00 07 00 63 62 63");
    MemorySource source(stream);
    VectorSink sink;
    EXPECT_THROW(decompressRaw(source, sink), FormatError);
    EXPECT_TRUE(sink.bytes().empty());
}

TEST(RawStream, ListingCountsBlocksFromHeaders) {
    const Bytes input = test::generateSample(test::SampleKind::text, 152089);
    const Bytes stream = rawCompress(input, 0);
    MemorySource source(stream);
    const RawListing listing = listRaw(source);
    EXPECT_EQ(listing.uncodedBlocks, (input.size() + 8191) / 8192);
    EXPECT_EQ(listing.codedBlocks, 0u);
    EXPECT_EQ(listing.decodedSize, input.size());
    EXPECT_EQ(listing.compressedSize, input.size() + 6 * listing.uncodedBlocks);
}

TEST(ProgressMeter, ShowsAtMostSixTimesASecondAndClearsItsLine) {
    std::FILE* terminal = std::tmpfile();
    ASSERT_NE(terminal, nullptr);
    {
        ProgressMeter meter(true, "big.log", 1000, false, terminal);
        TransferStats stats;
        stats.bytesIn = 500;
        stats.bytesOut = 125;
        meter.show(stats);  // too soon after the start: nothing
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        meter.show(stats);
        meter.show(stats);  // too soon after the last one
    }
    const long size = std::ftell(terminal);
    std::string written(static_cast<std::size_t>(size), '\0');
    std::rewind(terminal);
    ASSERT_EQ(std::fread(written.data(), 1, written.size(), terminal), written.size());
    std::fclose(terminal);
    const std::string line = written.substr(0, written.find('\r', 1));
    EXPECT_EQ(line.rfind("\rbig.log:  50% 500 B", 0), 0u) << written;
    EXPECT_NE(line.find("ratio 25.0%"), std::string::npos) << written;
    EXPECT_EQ(std::count(written.begin(), written.end(), '%'), 2);  // one line: percent and ratio
    // Cleared: the last thing written is the line blanked out and the cursor home.
    EXPECT_EQ(written.substr(line.size()), "\r" + std::string(line.size() - 1, ' ') + "\r");
    EXPECT_EQ(humanSize(1536), "1.50 KiB");
    EXPECT_EQ(humanSize(3u << 20), "3.00 MiB");
}

TEST(ProgressMeter, DisabledWritesNothing) {
    std::FILE* terminal = std::tmpfile();
    ASSERT_NE(terminal, nullptr);
    {
        ProgressMeter meter(false, "x", 0, true, terminal);
        std::this_thread::sleep_for(std::chrono::milliseconds(170));
        meter.show(TransferStats{1, 2, 1, 1});
    }
    EXPECT_EQ(std::ftell(terminal), 0);
    std::fclose(terminal);
}

}  // namespace
}  // namespace tavrine::tool
