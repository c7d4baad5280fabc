// The calls of tavrine_api.h through the shared library, as a host sees
// them: version, status texts, the one-shot calls' statuses against what
// ZOLT_Encode and ZOLT_Decode do, and .tvr files through callbacks and
// descriptors.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <set>
#include <string>
#include <tuple>

#include "support/codec_calls.h"
#include "support/test_data.h"
#include "tavrine_api.h"

namespace {

using tavrine::test::Bytes;
using tavrine::test::hex;

TEST(Version, MacrosAndStringAreTheProjectVersion) {
    EXPECT_EQ(TAVRINE_VERSION_MAJOR, TAVRINE_PROJECT_VERSION_MAJOR);
    EXPECT_EQ(TAVRINE_VERSION_MINOR, TAVRINE_PROJECT_VERSION_MINOR);
    EXPECT_EQ(TAVRINE_VERSION_PATCH, TAVRINE_PROJECT_VERSION_PATCH);
    EXPECT_STREQ(tavrine_version(), TAVRINE_PROJECT_VERSION);
}

TEST(Status, EveryStatusHasItsOwnText) {
    std::set<std::string> texts;
    for (int status = TAVRINE_OK; status <= TAVRINE_MEMORY_LIMIT; ++status) {
        const std::string text = tavrine_status_text(static_cast<tavrine_status>(status));
        EXPECT_FALSE(text.empty());
        EXPECT_TRUE(texts.insert(text).second) << text;
    }
    EXPECT_STREQ(tavrine_status_text(TAVRINE_CORRUPT), "corrupt data");
    EXPECT_STREQ(tavrine_status_text(static_cast<tavrine_status>(15)), "unknown status");
}

// Two blocks of text-like bytes and a short third: the second block starts
// at the first block's size.
Bytes threeBlocks() {
    std::mt19937 rng(31);
    return tavrine::test::skewedBytes(2 * 8192 + 100, rng);
}

struct Abort {
    std::size_t at;  // report number that returns 0; SIZE_MAX: none
};

tavrine::test::ProgressLog logAborting(std::size_t at) {
    tavrine::test::ProgressLog log;
    log.abortAt = at;
    return log;
}

TEST(OneShot, EncodeStatusesAndLengthsAgainstZoltEncode) {
    const Bytes input = threeBlocks();
    const Bytes stream = tavrine::test::encodeOrFail(input, TAVRINE_VARIANT_RANGE_CODED);
    const std::size_t firstBlock = tavrine::test::blockOffsets(stream)[1];
    const std::size_t lastReport = 3;  // before each of the three blocks, then the final one
    const struct {
        const char* what;
        std::size_t capacity;
        std::size_t abortAt;
        tavrine_status status;
        std::size_t length;
        int zolt;  // ZOLT_Encode's result
    } cases[] = {
        {"ample room", stream.size() + 8198, SIZE_MAX, TAVRINE_OK, stream.size(), 1},
        {"no room", 4, SIZE_MAX, TAVRINE_OUTPUT_TOO_SMALL, 0, 0},
        {"room for one block", firstBlock + 5, SIZE_MAX, TAVRINE_OUTPUT_TOO_SMALL, firstBlock, 0},
        {"stopped at the first report", stream.size() + 8198, 0, TAVRINE_ABORTED, 0, 0},
        {"stopped at the final report", stream.size() + 8198, lastReport, TAVRINE_ABORTED, stream.size(), 0},
    };
    for (const auto& c : cases) {
        Bytes out(c.capacity);
        std::size_t length = 99;
        tavrine::test::ProgressLog log = logAborting(c.abortAt);
        EXPECT_EQ(tavrine_encode(TAVRINE_VARIANT_RANGE_CODED, input.data(), input.size(), out.data(), out.size(),
                                 &length, &tavrine::test::ProgressLog::callback, &log),
                  c.status)
            << c.what;
        EXPECT_EQ(length, c.length) << c.what;
        tavrine::test::ProgressLog zoltLog = logAborting(c.abortAt);
        const auto zolt = tavrine::test::encodeCall(input, TAVRINE_VARIANT_RANGE_CODED,
                                                    static_cast<std::uint32_t>(c.capacity), &zoltLog);
        EXPECT_EQ(zolt.result, c.zolt) << c.what;
        EXPECT_EQ(log.reports, zoltLog.reports) << c.what;
        if (c.length == stream.size()) {
            EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length)), stream);
        }
    }
    std::size_t length = 0;
    std::uint8_t byte = 0;
    EXPECT_EQ(tavrine_encode(3, input.data(), input.size(), &byte, 1, &length, nullptr, nullptr), TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_encode(5, input.data(), input.size(), &byte, 1, nullptr, nullptr, nullptr), TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_encode(5, nullptr, 0, nullptr, 0, &length, nullptr, nullptr), TAVRINE_OK);
    EXPECT_EQ(length, 0u);
    // Never read: the length alone is refused.
    EXPECT_EQ(tavrine_encode(5, &byte, std::size_t{1} << 32, &byte, 1, &length, nullptr, nullptr), TAVRINE_TOO_LARGE);
    EXPECT_EQ(tavrine_encode_bound(0), 8198u);
    EXPECT_EQ(tavrine_encode_bound(8193), 24594u);
    EXPECT_EQ(tavrine_encode_bound(std::uint64_t{1} << 33), ((std::uint64_t{1} << 20) + 1) * 8198);
}

TEST(OneShot, DecodeStatusesLengthsAndTheBlockAtFault) {
    const Bytes input = threeBlocks();
    const Bytes stream = tavrine::test::encodeOrFail(input, TAVRINE_VARIANT_RANGE_CODED);
    const std::vector<std::size_t> blocks = tavrine::test::blockOffsets(stream);
    const auto cut = [&](std::size_t size) { return Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(size)); };
    Bytes trailing = stream;
    trailing.insert(trailing.end(), {1, 2});
    Bytes badHeader = stream;
    badHeader[blocks[1] + 2] = 0;  // decoded length 0
    badHeader[blocks[1] + 3] = 0;
    tavrine::test::ProgressLog counted;
    tavrine::test::decodeCall(stream, static_cast<std::uint32_t>(input.size()), &counted);
    const std::size_t finalReport = counted.reports.size() - 1;
    const struct {
        const char* what;
        Bytes stream;
        std::size_t capacity;
        std::size_t abortAt;
        tavrine_status status;
        std::size_t length;
        std::uint64_t fault;
    } cases[] = {
        {"whole", stream, input.size(), SIZE_MAX, TAVRINE_OK, input.size(), 0},
        {"room for one block", stream, 8192 + 8191, SIZE_MAX, TAVRINE_OUTPUT_TOO_SMALL, 8192, blocks[1]},
        {"cut inside the second block", cut(blocks[1] + 10), input.size(), SIZE_MAX, TAVRINE_TRUNCATED, 8192, blocks[1]},
        {"cut inside the second header", cut(blocks[1] + 3), input.size(), SIZE_MAX, TAVRINE_TRUNCATED, 8192, blocks[1]},
        {"two trailing bytes", trailing, input.size() + 9, SIZE_MAX, TAVRINE_TRUNCATED, input.size(), stream.size()},
        {"decoded length 0", badHeader, input.size(), SIZE_MAX, TAVRINE_CORRUPT, 8192, blocks[1]},
        {"stopped at the first report", stream, input.size(), 0, TAVRINE_ABORTED, 0, 0},
        {"stopped at the final report", stream, input.size(), finalReport, TAVRINE_ABORTED, input.size(), 0},
    };
    for (const auto& c : cases) {
        Bytes out(c.capacity);
        std::size_t length = 99;
        std::uint64_t fault = 0;
        tavrine::test::ProgressLog log = logAborting(c.abortAt);
        EXPECT_EQ(tavrine_decode(c.stream.data(), c.stream.size(), out.data(), out.size(), &length, &fault,
                                 &tavrine::test::ProgressLog::callback, &log),
                  c.status)
            << c.what;
        EXPECT_EQ(length, c.length) << c.what;
        EXPECT_EQ(fault, c.fault) << c.what;
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length), input.begin())) << c.what;
        tavrine::test::ProgressLog zoltLog = logAborting(c.abortAt);
        const auto zolt = tavrine::test::decodeCall(c.stream, static_cast<std::uint32_t>(c.capacity), &zoltLog);
        EXPECT_EQ(zolt.result == 1, c.status == TAVRINE_OK) << c.what;
        EXPECT_EQ(log.reports, zoltLog.reports) << c.what;
    }
    std::size_t length = 0;
    std::uint8_t byte = 0;
    EXPECT_EQ(tavrine_decode(stream.data(), stream.size(), nullptr, 0, &length, nullptr, nullptr, nullptr),
              TAVRINE_OUTPUT_TOO_SMALL);
    EXPECT_EQ(tavrine_decode(stream.data(), stream.size(), nullptr, 5, &length, nullptr, nullptr, nullptr),
              TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_decode(&byte, std::size_t{1} << 32, &byte, 1, &length, nullptr, nullptr, nullptr),
              TAVRINE_TOO_LARGE);
}

TEST(OneShot, DecodedLengthChecksHeadersAsTheDecoderDoes) {
    const Bytes abc = hex("09 00 03 00 00 00 63 62 63");
    const struct {
        const char* stream;
        tavrine_status status;
        std::uint64_t length;
        std::uint64_t fault;
    } cases[] = {
        {"", TAVRINE_OK, 0, 0},
        {"09 00 03 00 00 00 63 62 63 09 00 03 00 00 00 63 62 63", TAVRINE_OK, 6, 0},
        {"09 00 03 00 00 00 63 62 63 09 00 03 00 00", TAVRINE_TRUNCATED, 3, 9},
        {"09 00 03 00 00 00 63 62 63 09 00 03", TAVRINE_TRUNCATED, 3, 9},
        {"09 00 03 00 00 00 63 62 63 04 00 03 00 00", TAVRINE_CORRUPT, 3, 9},
        // Four bytes are a whole header, judged as such before the block's end.
        {"09 00 03 00 00 00 63 62 63 00 00 03 00", TAVRINE_CORRUPT, 3, 9},
        {"09 00 03 00 00 00 63 62 63 09 00 03 00", TAVRINE_TRUNCATED, 3, 9},
        {"09 00 00 00 00 00 63 62 63", TAVRINE_CORRUPT, 0, 0},
        // 32775 bytes would not fit the decoder's record buffer.
        {"09 00 07 80 00 00 63 62 63", TAVRINE_CORRUPT, 0, 0},
    };
    for (const auto& c : cases) {
        const Bytes stream = hex(c.stream);
        std::uint64_t length = 99;
        std::uint64_t fault = 0;
        EXPECT_EQ(tavrine_decoded_length(stream.data(), stream.size(), &length, &fault), c.status) << c.stream;
        EXPECT_EQ(length, c.length) << c.stream;
        EXPECT_EQ(fault, c.fault) << c.stream;
    }
    EXPECT_EQ(tavrine_decoded_length(abc.data(), abc.size(), nullptr, nullptr), TAVRINE_BAD_ARGUMENT);
}

// ------------------------------------------------------------ .tvr files

struct Memory {
    Bytes bytes;
    std::size_t at = 0;
    bool failing = false;

    static std::size_t read(void* user, void* buffer, std::size_t capacity) {
        auto& m = *static_cast<Memory*>(user);
        if (m.failing) return TAVRINE_READ_FAILED;
        const std::size_t n = std::min(capacity, m.bytes.size() - m.at);
        std::copy_n(m.bytes.begin() + static_cast<std::ptrdiff_t>(m.at), n, static_cast<std::uint8_t*>(buffer));
        m.at += n;
        return n;
    }
    static int write(void* user, const void* data, std::size_t size) {
        auto& m = *static_cast<Memory*>(user);
        if (m.failing) return 1;
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        m.bytes.insert(m.bytes.end(), bytes, bytes + size);
        return 0;
    }
};

tavrine_tvr_settings settings(std::uint32_t threads, std::uint32_t segmentSize = TAVRINE_TVR_MIN_SEGMENT_SIZE) {
    tavrine_tvr_settings s;
    tavrine_tvr_settings_init(&s);
    s.threads = threads;
    s.segment_size = segmentSize;
    return s;
}

Bytes compressTvr(const Bytes& input, const tavrine_tvr_settings& s) {
    Memory in{input};
    Memory out;
    tavrine_tvr_report report;
    EXPECT_EQ(tavrine_tvr_compress(&Memory::read, &in, &Memory::write, &out, &s, &report), TAVRINE_OK);
    EXPECT_EQ(report.bytes_in, input.size());
    EXPECT_EQ(report.bytes_out, out.bytes.size());
    EXPECT_STREQ(report.message, "");
    return out.bytes;
}

// tavrine_tvr_compress_memory: the callbacks' bytes, the input coded in place.
Bytes compressTvrInMemory(const Bytes& input, const tavrine_tvr_settings& s) {
    Memory out;
    tavrine_tvr_report report;
    EXPECT_EQ(tavrine_tvr_compress_memory(input.data(), input.size(), &Memory::write, &out, &s, &report),
              TAVRINE_OK);
    EXPECT_EQ(report.bytes_in, input.size());
    return out.bytes;
}

TEST(TvrFiles, RoundTripThroughCallbacksTheSameBytesForAnyThreads) {
    const Bytes input = threeBlocks();
    const Bytes one = compressTvr(input, settings(1));
    EXPECT_EQ(compressTvr(input, settings(3)), one);
    EXPECT_EQ(compressTvrInMemory(input, settings(1)), one);
    EXPECT_EQ(compressTvrInMemory(input, settings(2)), one);
    EXPECT_EQ(compressTvrInMemory({}, settings(2)), compressTvr({}, settings(1)));
    for (const std::uint32_t threads : {0u, 1u, 4u}) {
        Memory in{one};
        Memory out;
        const tavrine_tvr_settings s = settings(threads);
        tavrine_tvr_report report;
        ASSERT_EQ(tavrine_tvr_decompress(&Memory::read, &in, &Memory::write, &out, &s, &report), TAVRINE_OK);
        EXPECT_EQ(out.bytes, input);
        Memory inPlace;
        ASSERT_EQ(tavrine_tvr_decompress_memory(one.data(), one.size(), &Memory::write, &inPlace, &s, nullptr),
                  TAVRINE_OK);
        EXPECT_EQ(inPlace.bytes, input);
        EXPECT_EQ(report.segments, 5u);  // 16484 bytes in 4 KiB segments
        EXPECT_EQ(report.members, 1u);
    }
    Memory listed{one};
    tavrine_tvr_listing listing;
    ASSERT_EQ(tavrine_tvr_list(&Memory::read, &listed, &listing, nullptr), TAVRINE_OK);
    EXPECT_EQ(listing.decoded_size, input.size());
    EXPECT_EQ(listing.compressed_size, one.size());
    EXPECT_EQ(listing.segment_size, TAVRINE_TVR_MIN_SEGMENT_SIZE);
    EXPECT_EQ(listing.variant, 5u);
}

TEST(TvrFiles, FailuresComeWithStatusPlaceAndMessage) {
    const Bytes input = threeBlocks();
    const Bytes file = compressTvr(input, settings(1));
    const std::size_t secondFrame = 16 + 28 + (file[20] | (file[21] << 8) | (file[22] << 16));
    Bytes damaged = file;
    damaged[secondFrame + 40] ^= 1;  // inside the second segment's stream
    const struct {
        const char* what;
        Bytes file;
        tavrine_status status;
        std::uint64_t fault;
        const char* message;
        std::size_t written;
    } cases[] = {
        {"damaged second segment", damaged, TAVRINE_CORRUPT, secondFrame, "checksum mismatch in segment 2", 4096},
        {"cut", Bytes(file.begin(), file.begin() + 100), TAVRINE_TRUNCATED, 100, "truncated after 100 bytes", 0},
        {"foreign", hex("1F 8B 08 00"), TAVRINE_UNKNOWN_FORMAT, 0, "not a tavrine file", 0},
    };
    for (const auto& c : cases) {
        Memory in{c.file};
        Memory out;
        tavrine_tvr_report report;
        EXPECT_EQ(tavrine_tvr_decompress(&Memory::read, &in, &Memory::write, &out, nullptr, &report), c.status)
            << c.what;
        EXPECT_EQ(report.fault_offset, c.fault) << c.what;
        EXPECT_STREQ(report.message, c.message) << c.what;
        EXPECT_EQ(out.bytes.size(), c.written) << c.what;
        Memory inPlace;
        tavrine_tvr_report inPlaceReport;
        EXPECT_EQ(tavrine_tvr_decompress_memory(c.file.data(), c.file.size(), &Memory::write, &inPlace, nullptr,
                                                &inPlaceReport),
                  c.status)
            << c.what;
        EXPECT_EQ(inPlaceReport.fault_offset, c.fault) << c.what;
        EXPECT_EQ(inPlace.bytes.size(), c.written) << c.what;
    }

    // The caller's functions fail, or its progress stops the call.
    Memory in{input};
    in.failing = true;
    Memory out;
    EXPECT_EQ(tavrine_tvr_compress(&Memory::read, &in, &Memory::write, &out, nullptr, nullptr), TAVRINE_IO_ERROR);
    Memory source{input};
    Memory sink;
    sink.failing = true;
    EXPECT_EQ(tavrine_tvr_compress(&Memory::read, &source, &Memory::write, &sink, nullptr, nullptr),
              TAVRINE_IO_ERROR);
    tavrine_tvr_settings stopping = settings(1);
    stopping.progress = [](void*, std::uint64_t, std::uint64_t) { return 0; };
    Memory again{input};
    Memory partial;
    EXPECT_EQ(tavrine_tvr_compress(&Memory::read, &again, &Memory::write, &partial, &stopping, nullptr),
              TAVRINE_ABORTED);

    // Settings outside the format.
    for (const auto& [variant, segment, threads] : {std::tuple{3u, 4096u, 1u}, std::tuple{5u, 4095u, 1u},
                                                    std::tuple{5u, 4096u, TAVRINE_MAX_THREADS + 1}}) {
        tavrine_tvr_settings bad = settings(threads, segment);
        bad.variant = variant;
        EXPECT_EQ(tavrine_tvr_compress(&Memory::read, &again, &Memory::write, &partial, &bad, nullptr),
                  TAVRINE_BAD_ARGUMENT);
    }
    EXPECT_EQ(tavrine_tvr_compress(nullptr, &again, &Memory::write, &partial, nullptr, nullptr), TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_tvr_compress_memory(nullptr, 1, &Memory::write, &partial, nullptr, nullptr),
              TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_tvr_compress_memory(input.data(), input.size(), nullptr, nullptr, nullptr, nullptr),
              TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_tvr_decompress_memory(nullptr, 1, &Memory::write, &partial, nullptr, nullptr),
              TAVRINE_BAD_ARGUMENT);
}

TEST(TvrFiles, DescriptorsCarryTheSystemsError) {
    const Bytes input = threeBlocks();
    std::FILE* source = std::tmpfile();
    std::FILE* packed = std::tmpfile();
    std::FILE* back = std::tmpfile();
    ASSERT_TRUE(source && packed && back);
    ASSERT_EQ(std::fwrite(input.data(), 1, input.size(), source), input.size());
    std::fflush(source);
    std::rewind(source);
    tavrine_tvr_report report;
    ASSERT_EQ(tavrine_tvr_compress_fd(fileno(source), fileno(packed), nullptr, &report), TAVRINE_OK);
    std::rewind(packed);
    ASSERT_EQ(tavrine_tvr_decompress_fd(fileno(packed), fileno(back), nullptr, &report), TAVRINE_OK);
    EXPECT_EQ(report.bytes_out, input.size());
    Bytes decoded(input.size() + 1);
    std::rewind(back);
    EXPECT_EQ(std::fread(decoded.data(), 1, decoded.size(), back), input.size());
    decoded.resize(input.size());
    EXPECT_EQ(decoded, input);

    // A descriptor open only for reading cannot be written.
    const int readOnly = ::open("/dev/null", O_RDONLY);
    std::rewind(source);
    EXPECT_EQ(tavrine_tvr_compress_fd(fileno(source), readOnly, nullptr, &report), TAVRINE_IO_ERROR);
    EXPECT_EQ(report.system_error, EBADF);
    EXPECT_EQ(std::string(report.message).rfind("write error: ", 0), 0u) << report.message;
    ::close(readOnly);
    std::fclose(source);
    std::fclose(packed);
    std::fclose(back);
}

}  // namespace
