// Writing and reading .tvr files in memory: round trips, identical bytes for
// any thread count, and damage, truncation and foreign data refused with the
// right message while only verified segments reach the output.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "container/byte_io.h"
#include "container/checksum.h"
#include "container/segment_codec.h"
#include "support/test_data.h"
#include "container/tvr_format.h"
#include "container/tvr_reader.h"
#include "container/tvr_writer.h"

namespace tavrine::container {
namespace {

using test::Bytes;

constexpr std::size_t kSmallSegment = kMinSegmentSize;

// A memory source lends its bytes; `copied` reads them through a source
// that cannot, as from a file or pipe.
enum class Input : std::uint8_t { lent, copied };

Bytes compress(const Bytes& input, std::uint32_t segmentSize = kSmallSegment, unsigned threads = 1,
               std::uint8_t variant = 5, Input path = Input::lent) {
    MemorySource memory(input);
    CountingSource reading(memory);
    ByteSource& source = path == Input::lent ? static_cast<ByteSource&>(memory) : reading;
    VectorSink sink;
    compressToTvr(source, sink, CompressSettings{variant, segmentSize, threads});
    return sink.bytes();
}

Bytes decompress(const Bytes& file, unsigned threads = 1, std::uint64_t memoryLimit = 0,
                 Input path = Input::lent) {
    MemorySource memory(file);
    CountingSource reading(memory);
    ByteSource& source = path == Input::lent ? static_cast<ByteSource&>(memory) : reading;
    VectorSink sink;
    decompressTvr(source, sink, DecompressSettings{threads, memoryLimit});
    return sink.bytes();
}

// The message decompression fails with, and its status in brackets
// ("decoded" when it succeeds); what it wrote goes to `written`.
std::string decompressError(const Bytes& file, unsigned threads = 1, Bytes* written = nullptr,
                            std::uint64_t memoryLimit = 0, Input path = Input::lent) {
    MemorySource memory(file);
    CountingSource reading(memory);
    ByteSource& source = path == Input::lent ? static_cast<ByteSource&>(memory) : reading;
    VectorSink sink;
    std::string message = "decoded";
    try {
        decompressTvr(source, sink, DecompressSettings{threads, memoryLimit});
    } catch (const ContainerError& error) {
        message = error.what() + std::string(" [") + tavrine_status_text(error.status()) + "]";
    }
    if (written != nullptr) *written = sink.bytes();
    return message;
}

Bytes text(std::size_t length) {
    const Bytes alice = test::generateSample(test::SampleKind::text, 152089);
    return Bytes(alice.begin(), alice.begin() + static_cast<std::ptrdiff_t>(std::min(length, alice.size())));
}

// A file cut into its pieces: header, one frame and stream per segment, end frame.
struct Pieces {
    Bytes header;
    std::vector<Bytes> frames;
    std::vector<Bytes> streams;
    Bytes end;

    Bytes join() const {
        Bytes file = header;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            file.insert(file.end(), frames[i].begin(), frames[i].end());
            file.insert(file.end(), streams[i].begin(), streams[i].end());
        }
        file.insert(file.end(), end.begin(), end.end());
        return file;
    }

    // Offsets of each piece in the joined file.
    std::size_t frameOffset(std::size_t segment) const {
        std::size_t offset = header.size();
        for (std::size_t i = 0; i < segment; ++i) offset += frames[i].size() + streams[i].size();
        return offset;
    }
    std::size_t endOffset() const { return frameOffset(frames.size()); }
};

Pieces split(const Bytes& file) {
    Pieces pieces;
    pieces.header.assign(file.begin(), file.begin() + kHeaderSize);
    std::size_t at = kHeaderSize;
    while (file[at] == kSegmentFrameKind) {
        Bytes frame(file.begin() + static_cast<std::ptrdiff_t>(at),
                    file.begin() + static_cast<std::ptrdiff_t>(at + kSegmentFrameSize));
        const auto fields = decodeSegmentFrame(std::span<const std::uint8_t, kSegmentFrameSize>(frame.data(), kSegmentFrameSize));
        at += kSegmentFrameSize;
        pieces.streams.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(at),
                                    file.begin() + static_cast<std::ptrdiff_t>(at + fields->storedSize));
        at += fields->storedSize;
        pieces.frames.push_back(std::move(frame));
    }
    pieces.end.assign(file.begin() + static_cast<std::ptrdiff_t>(at), file.end());
    return pieces;
}

template <std::size_t N>
Bytes toBytes(const std::array<std::uint8_t, N>& array) {
    return Bytes(array.begin(), array.end());
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(TvrRoundTrip, SizesAroundSegmentBoundariesBothVariantsAnyThreads) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, kSmallSegment - 1, kSmallSegment,
                                   kSmallSegment + 1,
                                   3 * kSmallSegment, 3 * kSmallSegment + 7}) {
        const Bytes input = text(size);
        for (const std::uint8_t variant : {std::uint8_t{0}, std::uint8_t{5}}) {
            for (const unsigned threads : {1u, 3u}) {
                const Bytes file = compress(input, kSmallSegment, threads, variant);
                EXPECT_EQ(decompress(file, threads), input)
                    << "size " << size << " variant " << int{variant} << " threads " << threads;
            }
        }
    }
}

// Fewer segments than threads (the threads then go into the segments'
// blocks), as many, and more; whole segments and a short last one; input
// read (which finds its end by reading ahead) or lent from memory.
TEST(TvrRoundTrip, OutputIsTheSameForAnyThreadCount) {
    const Bytes sample = test::generateSample(test::SampleKind::text, 152089);
    const std::uint32_t segmentSize = 32u << 10;
    for (const std::size_t size : {std::size_t{5000}, std::size_t{segmentSize}, 2 * std::size_t{segmentSize},
                                   3 * std::size_t{segmentSize} - 1, sample.size()}) {
        const Bytes input(sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(size));
        const Bytes single = compress(input, segmentSize, 1, 5, Input::copied);
        EXPECT_EQ(compress(input, segmentSize, 1), single) << size << " bytes lent";
        for (const unsigned threads : {2u, 3u, 5u, 8u}) {
            EXPECT_EQ(compress(input, segmentSize, threads), single) << size << " bytes, " << threads << " threads";
            EXPECT_EQ(compress(input, segmentSize, threads, 5, Input::copied), single)
                << size << " bytes read, " << threads << " threads";
            EXPECT_EQ(decompress(single, threads), input) << size << " bytes, " << threads << " threads";
            EXPECT_EQ(decompress(single, threads, 0, Input::copied), input)
                << size << " bytes read, " << threads << " threads";
        }
    }
}

// What the segments of this file need: their stored streams and decoded bytes.
std::vector<std::uint64_t> segmentNeeds(const Bytes& file) {
    std::vector<std::uint64_t> needs;
    for (const Bytes& frame : split(file).frames) {
        const auto fields =
            decodeSegmentFrame(std::span<const std::uint8_t, kSegmentFrameSize>(frame.data(), kSegmentFrameSize));
        needs.push_back(std::uint64_t{fields->storedSize} + fields->decodedSize);
    }
    return needs;
}

TEST(TvrMemoryLimit, FewerSegmentsAtOnceAndASegmentThatNeedsMoreIsRefused) {
    const Bytes input = text(7 * kSmallSegment + 300);
    const Bytes file = compress(input);
    const std::vector<std::uint64_t> needs = segmentNeeds(file);
    const std::uint64_t need = *std::max_element(needs.begin(), needs.end());
    // Room for one segment, for two, or for all: the same bytes with any threads.
    for (const std::uint64_t limit : {need, 2 * need + 1, std::uint64_t{0}}) {
        for (const unsigned threads : {1u, 2u, 6u}) {
            EXPECT_EQ(decompress(file, threads, limit), input) << "limit " << limit << ", " << threads << " threads";
        }
    }
    Bytes written;
    const std::string error = decompressError(file, 4, &written, needs[0] - 1);
    EXPECT_EQ(error, "segment 1 needs " + std::to_string(needs[0]) + " bytes of memory, more than the limit of " +
                         std::to_string(needs[0] - 1) + " bytes [over the memory limit]");
    EXPECT_TRUE(written.empty());

    // A later segment that needs more: the ones before it come out first.
    const Bytes larger = concat(compress(text(kSmallSegment)), compress(input, 4 * kSmallSegment));
    const std::string later = decompressError(larger, 3, &written, need);
    EXPECT_EQ(later.rfind("segment 2 needs ", 0), 0u) << later;
    EXPECT_EQ(written, text(kSmallSegment));
}

TEST(TvrRoundTrip, EachSegmentIsTheCodecStreamOfItsPieceOfInput) {
    const Bytes input = text(2 * kSmallSegment + 100);
    const Pieces pieces = split(compress(input));
    ASSERT_EQ(pieces.streams.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t start = i * kSmallSegment;
        const std::size_t length = std::min<std::size_t>(kSmallSegment, input.size() - start);
        const std::span<const std::uint8_t> piece(input.data() + start, length);
        EXPECT_EQ(pieces.streams[i], encodeStream(5, piece)) << "segment " << i + 1;
        const auto frame = decodeSegmentFrame(std::span<const std::uint8_t, kSegmentFrameSize>(pieces.frames[i].data(), kSegmentFrameSize));
        EXPECT_EQ(frame->decodedSize, length);
        EXPECT_EQ(frame->checksum, contentChecksum(piece));
        EXPECT_EQ(frame->storedCheck, frameCheck(pieces.streams[i]));
    }
    const auto end = decodeEndFrame(std::span<const std::uint8_t, kEndFrameSize>(pieces.end.data(), kEndFrameSize));
    ASSERT_TRUE(end.has_value());
    EXPECT_EQ(end->segmentCount, 3u);
    EXPECT_EQ(end->decodedSize, input.size());
    EXPECT_EQ(end->checksum, contentChecksum(input));
}

TEST(TvrRoundTrip, AHandMadeFileAroundAWorkedStreamDecodes) {
    // "abc" is the one uncoded block 09 00 03 00 00 00 63 62 63.
    const Bytes abc = test::ascii("abc");
    const Bytes stream = test::hex("09 00 03 00 00 00 63 62 63");
    Bytes file = toBytes(encodeHeader(FileHeader{0, kSmallSegment}));
    file = concat(file, toBytes(encodeSegmentFrame(SegmentFrame{9, 3, contentChecksum(abc), frameCheck(stream)})));
    file = concat(file, stream);
    file = concat(file, toBytes(encodeEndFrame(EndFrame{1, 3, contentChecksum(abc)})));
    EXPECT_EQ(decompress(file), abc);
    EXPECT_EQ(compress(abc, kSmallSegment, 1, 0), file);
}

TEST(TvrConcatenation, MembersDecodeToTheConcatenationOfTheirContents) {
    const Bytes first = text(5000);
    const Bytes second = test::generateSample(test::SampleKind::text, 11150, 2);
    const Bytes joined = concat(compress(first), compress(second, kDefaultSegmentSize, 2, 0));
    EXPECT_EQ(decompress(joined), concat(first, second));
    MemorySource source(joined);
    DiscardSink sink;
    const TransferStats stats = decompressTvr(source, sink, DecompressSettings{});
    EXPECT_EQ(stats.members, 2u);
    EXPECT_EQ(stats.bytesIn, joined.size());
    EXPECT_EQ(stats.bytesOut, first.size() + second.size());
    // Empty members add nothing.
    EXPECT_EQ(decompress(concat(compress({}), compress(first))), first);
}

TEST(TvrConcatenation, WhatFollowsAMemberMustBeAnotherMember) {
    const Bytes file = compress(text(100));
    EXPECT_EQ(decompressError(concat(file, test::ascii("garbage"))),
              "unknown data after the end frame, at byte " + std::to_string(file.size()) +
                  " [corrupt data]");
    EXPECT_EQ(decompressError(concat(file, Bytes(1, 0))),
              "unknown data after the end frame, at byte " + std::to_string(file.size()) +
                  " [corrupt data]");
    const Bytes partialHeader(file.begin(), file.begin() + 6);
    EXPECT_EQ(decompressError(concat(file, partialHeader)),
              "truncated after " + std::to_string(file.size() + 6) + " bytes [truncated data]");
}

TEST(TvrDamage, ForeignAndEmptyInputIsNotATavrineFile) {
    EXPECT_EQ(decompressError({}), "not a tavrine file (it is empty) [unknown format]");
    EXPECT_EQ(decompressError(test::ascii("hello, world\n")), "not a tavrine file [unknown format]");
    EXPECT_EQ(decompressError(test::hex("1F 8B 08 00")), "not a tavrine file [unknown format]");
    // A bare stream is not a .tvr file either.
    EXPECT_EQ(decompressError(test::hex("09 00 03 00 00 00 63 62 63")),
              "not a tavrine file [unknown format]");
}

TEST(TvrDamage, TruncationAnywhereIsReportedWithItsOffset) {
    const Bytes input = text(kSmallSegment + 700);
    const Bytes file = compress(input);
    const Pieces pieces = split(file);
    ASSERT_EQ(pieces.streams.size(), 2u);
    const std::size_t secondSegment = pieces.frameOffset(1);
    for (std::size_t cut = 1; cut < file.size(); ++cut) {
        const Bytes cutFile(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        // Only whole, verified segments come out.
        const std::size_t expected = cut >= pieces.endOffset() ? input.size() : cut >= secondSegment ? kSmallSegment : 0;
        for (const Input path : {Input::lent, Input::copied}) {
            Bytes written;
            const std::string error = decompressError(cutFile, 1, &written, 0, path);
            ASSERT_EQ(error, "truncated after " + std::to_string(cut) + " bytes [truncated data]");
            ASSERT_EQ(written, Bytes(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(expected)))
                << "cut " << cut;
        }
    }
}

TEST(TvrDamage, EveryBitFlipIsCaughtAndNamesThePlace) {
    const Bytes input = text(kSmallSegment + 700);
    const Bytes file = compress(input);
    const Pieces pieces = split(file);
    const std::size_t secondFrame = pieces.frameOffset(1);
    const std::size_t end = pieces.endOffset();
    for (std::size_t at = 0; at < file.size(); ++at) {
        const bool framing = at < kHeaderSize + kSegmentFrameSize ||
                             (at >= secondFrame && at < secondFrame + kSegmentFrameSize) || at >= end;
        for (unsigned bit = 0; bit < 8; ++bit) {
            if (!framing && bit != at % 8) continue;  // one bit per payload byte keeps it quick
            Bytes bad = file;
            bad[at] ^= static_cast<std::uint8_t>(1u << bit);
            Bytes written;
            const std::string error = decompressError(bad, 1, &written);
            std::string expected;
            if (at < kMagic.size()) {
                expected = "not a tavrine file";
            } else if (at < kHeaderSize) {
                expected = "damaged file header";
            } else if (at < kHeaderSize + kSegmentFrameSize) {
                expected = at == kHeaderSize ? "damaged frame at byte 16" : "damaged frame of segment 1";
            } else if (at < secondFrame) {
                expected = "checksum mismatch in segment 1";
            } else if (at < secondFrame + kSegmentFrameSize) {
                expected = at == secondFrame ? "damaged frame at byte" : "damaged frame of segment 2";
            } else if (at < end) {
                expected = "checksum mismatch in segment 2";
            } else {
                expected = at == end ? "damaged frame at byte" : "damaged end frame";
            }
            ASSERT_NE(error.find(expected), std::string::npos) << "byte " << at << " bit " << bit << ": " << error;
            ASSERT_TRUE(written.empty() || written == Bytes(input.begin(), input.begin() + kSmallSegment) ||
                        (at >= end && written == input))
                << "byte " << at << " bit " << bit;
        }
    }
}

TEST(TvrDamage, FramesWithIntactChecksButWrongContentsAreCaught) {
    const Bytes input = text(3 * kSmallSegment);
    const Pieces pieces = split(compress(input));
    const std::string corrupted = " [corrupt data]";

    Pieces dropped = pieces;  // the second segment left out
    dropped.frames.erase(dropped.frames.begin() + 1);
    dropped.streams.erase(dropped.streams.begin() + 1);
    EXPECT_EQ(decompressError(dropped.join()), "the end frame counts 3 segments, but 2 came before it" + corrupted);

    Pieces swapped = pieces;  // every segment intact, but out of order
    std::swap(swapped.frames[0], swapped.frames[1]);
    std::swap(swapped.streams[0], swapped.streams[1]);
    EXPECT_EQ(decompressError(swapped.join()), "content checksum mismatch" + corrupted);

    Pieces resized = pieces;
    resized.end = toBytes(encodeEndFrame(EndFrame{3, input.size() + 1, contentChecksum(input)}));
    EXPECT_EQ(decompressError(resized.join()),
              "size mismatch: the end frame says 12289 bytes, the segments hold 12288" + corrupted);

    Pieces relabelled = pieces;  // a checksum that does not match the stream
    const auto frame = decodeSegmentFrame(std::span<const std::uint8_t, kSegmentFrameSize>(pieces.frames[2].data(), kSegmentFrameSize));
    relabelled.frames[2] = toBytes(encodeSegmentFrame(
        SegmentFrame{frame->storedSize, frame->decodedSize, frame->checksum ^ 1, frame->storedCheck}));
    EXPECT_EQ(decompressError(relabelled.join()), "checksum mismatch in segment 3" + corrupted);

    Pieces misannounced = pieces;  // the stream's blocks hold more than the frame says
    const auto first = decodeSegmentFrame(std::span<const std::uint8_t, kSegmentFrameSize>(pieces.frames[0].data(), kSegmentFrameSize));
    misannounced.frames[0] = toBytes(encodeSegmentFrame(
        SegmentFrame{first->storedSize, kSmallSegment - 100, first->checksum, first->storedCheck}));
    EXPECT_EQ(decompressError(misannounced.join()), "segment 1 does not decode" + corrupted);

    Pieces oversized = pieces;
    oversized.frames[0] = toBytes(encodeSegmentFrame(SegmentFrame{frame->storedSize, kSmallSegment + 1, 0, 0}));
    EXPECT_EQ(decompressError(oversized.join()),
              "segment 1 announces 4097 bytes, which its segment size does not allow" + corrupted);

    Pieces unstored = pieces;
    unstored.frames[0] = toBytes(encodeSegmentFrame(SegmentFrame{0, kSmallSegment, 0, 0}));
    EXPECT_EQ(decompressError(unstored.join()), "segment 1 has an impossible stored size (0 bytes)" + corrupted);
}

TEST(TvrDamage, TheFirstFailureInFileOrderIsReportedWhateverTheThreads) {
    const Bytes input = text(6 * kSmallSegment);
    Pieces pieces = split(compress(input));
    pieces.streams[1][pieces.streams[1].size() / 2] ^= 0x10;  // data of segment 2
    pieces.frames[4][6] ^= 0x01;                              // frame of segment 5
    const Bytes file = pieces.join();
    for (const unsigned threads : {1u, 2u, 4u}) {
        Bytes written;
        const std::string error = decompressError(file, threads, &written);
        EXPECT_NE(error.find("segment 2"), std::string::npos) << threads << ": " << error;
        EXPECT_EQ(written, Bytes(input.begin(), input.begin() + kSmallSegment)) << threads;
    }
}

TEST(TvrListing, CountsSegmentsBlocksAndSizesWithoutDecoding) {
    const Bytes input = test::generateSample(test::SampleKind::text, 152089);  // 152089 bytes
    const std::uint32_t segmentSize = 64u << 10;
    const Bytes file = compress(input, segmentSize);
    MemorySource source(file);
    const TvrListing listing = listTvr(source);
    EXPECT_EQ(listing.members, 1u);
    EXPECT_EQ(listing.segments, 3u);
    // 64 KiB segments hold 8 blocks each; 152089 - 131072 = 21017 bytes need 3.
    EXPECT_EQ(listing.codedBlocks + listing.uncodedBlocks, 8u + 8u + 3u);
    EXPECT_GT(listing.codedBlocks, 0u);
    EXPECT_EQ(listing.compressedSize, file.size());
    EXPECT_EQ(listing.decodedSize, input.size());
    EXPECT_EQ(listing.checksum, contentChecksum(input));
    EXPECT_EQ(listing.variant, 5);
    EXPECT_EQ(listing.segmentSize, segmentSize);

    // Variant 0 stores every block uncoded.
    const Bytes plainFile = compress(input, segmentSize, 1, 0);
    MemorySource plain(plainFile);
    const TvrListing uncoded = listTvr(plain);
    EXPECT_EQ(uncoded.codedBlocks, 0u);
    EXPECT_EQ(uncoded.uncodedBlocks, 19u);
}

TEST(TvrListing, ADamagedStreamOrFrameIsReported) {
    Pieces pieces = split(compress(text(2 * kSmallSegment)));
    Pieces badStream = pieces;
    badStream.streams[1][0] ^= 0x40;  // the first block's size no longer tiles the stream
    const Bytes badFile = badStream.join();
    MemorySource source(badFile);
    EXPECT_THROW(
        {
            try {
                listTvr(source);
            } catch (const ContainerError& error) {
                EXPECT_STREQ(error.what(), "the stream of segment 2 is damaged");
                EXPECT_EQ(error.status(), TAVRINE_CORRUPT);
                EXPECT_EQ(error.offset(), badStream.frameOffset(1));
                throw;
            }
        },
        ContainerError);
    Bytes truncated = pieces.join();
    truncated.pop_back();
    MemorySource cut(truncated);
    EXPECT_THROW(listTvr(cut), ContainerError);
}

}  // namespace
}  // namespace tavrine::container
