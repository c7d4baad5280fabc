// The .tvr reader and writer objects through the shared library, against the
// run-to-completion calls: the writer's bytes equal tavrine_tvr_compress's for
// any cut of the input and any thread count, and the reader hands out what
// tavrine_tvr_decompress writes and fails with its status, place and message.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/test_data.h"
#include "tavrine_api.h"

namespace {

using tavrine::test::Bytes;
using tavrine::test::SampleKind;

constexpr std::uint32_t kSegment = TAVRINE_TVR_MIN_SEGMENT_SIZE;

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

tavrine_tvr_settings settings(std::uint32_t threads, std::uint32_t variant = 5) {
    tavrine_tvr_settings s;
    tavrine_tvr_settings_init(&s);
    s.threads = threads;
    s.variant = variant;
    s.segment_size = kSegment;
    return s;
}

Bytes compressWhole(const Bytes& input, const tavrine_tvr_settings& s) {
    Memory in{input};
    Memory out;
    EXPECT_EQ(tavrine_tvr_compress(&Memory::read, &in, &Memory::write, &out, &s, nullptr), TAVRINE_OK);
    return out.bytes;
}

Bytes compressInPieces(const Bytes& input, const tavrine_tvr_settings& s, std::size_t piece) {
    Memory out;
    tavrine_tvr_writer* writer = nullptr;
    EXPECT_EQ(tavrine_tvr_writer_create(&Memory::write, &out, &s, &writer), TAVRINE_OK);
    for (std::size_t at = 0; at < input.size(); at += piece) {
        EXPECT_EQ(tavrine_tvr_write(writer, input.data() + at, std::min(piece, input.size() - at)), TAVRINE_OK);
    }
    EXPECT_EQ(tavrine_tvr_writer_close(writer), TAVRINE_OK);
    tavrine_tvr_report report;
    tavrine_tvr_writer_report(writer, &report);
    EXPECT_EQ(report.bytes_in, input.size());
    EXPECT_EQ(report.bytes_out, out.bytes.size());
    EXPECT_EQ(report.members, 1u);
    EXPECT_EQ(report.segments, (input.size() + kSegment - 1) / kSegment);
    tavrine_tvr_writer_free(writer);
    return out.bytes;
}

TEST(TvrWriter, EqualsTheRunToCompletionCallForAnyCutAndThreads) {
    const Bytes text = tavrine::test::generateSample(SampleKind::text, 3 * kSegment + 100);
    const Bytes inputs[] = {Bytes{}, Bytes{'x'}, Bytes(text.begin(), text.begin() + 2 * kSegment), text};
    for (const Bytes& input : inputs) {
        for (const std::uint32_t variant : {0u, 5u}) {
            const Bytes expected = compressWhole(input, settings(1, variant));
            for (const std::uint32_t threads : {1u, 3u}) {
                for (const std::size_t piece : {std::size_t{1}, std::size_t{1000}, std::size_t{kSegment},
                                                std::size_t{kSegment + 1}, std::size_t{1} << 20}) {
                    EXPECT_EQ(compressInPieces(input, settings(threads, variant), piece), expected)
                        << input.size() << " bytes, variant " << variant << ", " << threads << " threads, pieces of "
                        << piece;
                }
            }
        }
    }
}

struct Outcome {
    tavrine_status status;
    Bytes content;
    tavrine_tvr_report report;
};

Outcome decompressWhole(const Bytes& file, std::uint32_t threads, std::uint64_t memoryLimit) {
    Memory in{file};
    Memory out;
    tavrine_tvr_settings s = settings(threads);
    s.memory_limit = memoryLimit;
    Outcome outcome{};
    outcome.status = tavrine_tvr_decompress(&Memory::read, &in, &Memory::write, &out, &s, &outcome.report);
    outcome.content = out.bytes;
    return outcome;
}

Outcome readInPieces(const Bytes& file, std::uint32_t threads, std::uint64_t memoryLimit, std::size_t capacity) {
    Memory in{file};
    tavrine_tvr_settings s = settings(threads);
    s.memory_limit = memoryLimit;
    tavrine_tvr_reader* reader = nullptr;
    EXPECT_EQ(tavrine_tvr_reader_create(&Memory::read, &in, &s, &reader), TAVRINE_OK);
    Outcome outcome{};
    Bytes buffer(capacity);
    std::size_t produced = 0;
    while ((outcome.status = tavrine_tvr_read(reader, buffer.data(), capacity, &produced)) == TAVRINE_OK &&
           produced != 0) {
        outcome.content.insert(outcome.content.end(), buffer.begin(),
                               buffer.begin() + static_cast<std::ptrdiff_t>(produced));
    }
    // Failures and the end stay.
    EXPECT_EQ(tavrine_tvr_read(reader, buffer.data(), capacity, &produced), outcome.status);
    EXPECT_EQ(produced, 0u);
    tavrine_tvr_reader_report(reader, &outcome.report);
    tavrine_tvr_reader_free(reader);
    return outcome;
}

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(TvrReader, HandsOutWhatTheRunToCompletionCallWritesAndFailsAlike) {
    const Bytes text = tavrine::test::generateSample(SampleKind::text, 3 * kSegment + 100);
    const Bytes other = tavrine::test::generateSample(SampleKind::records, text.size());
    const Bytes file = compressWhole(text, settings(1));
    const Bytes otherFile = compressWhole(other, settings(1));
    const Bytes empty = compressWhole(Bytes{}, settings(1));
    const std::size_t secondFrame = 16 + 28 + (file[20] | (file[21] << 8) | (file[22] << 16));
    Bytes damagedStream = file;
    damagedStream[secondFrame + 40] ^= 1;
    Bytes damagedFrame = file;
    damagedFrame[secondFrame + 5] ^= 1;
    // Segments that verify, closed by an end frame with the same counts but
    // another member's content checksum.
    Bytes wrongContent(file.begin(), file.end() - 28);
    wrongContent.insert(wrongContent.end(), otherFile.end() - 28, otherFile.end());
    const struct {
        const char* what;
        Bytes file;
    } cases[] = {
        {"one member", file},
        {"three members, one of them empty", joined({file, empty, otherFile})},
        {"damaged stream of segment 2", damagedStream},
        {"damaged frame of segment 2", damagedFrame},
        {"content checksum", wrongContent},
        {"cut inside segment 3", Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(secondFrame + 3000))},
        {"cut inside the end frame", Bytes(file.begin(), file.end() - 5)},
        {"data after a member", joined({file, Bytes{'P', 'K', 3, 4}})},
        {"foreign", Bytes{0x1F, 0x8B, 8, 0}},
        {"empty input", Bytes{}},
    };
    // Memory for every segment the threads hold, for about one segment at a
    // time (a segment's stream and decoded bytes), and for none.
    const struct {
        std::uint32_t threads;
        std::uint64_t memoryLimit;
    } settingsCases[] = {{0, TAVRINE_TVR_DEFAULT_MEMORY_LIMIT}, {3, TAVRINE_TVR_DEFAULT_MEMORY_LIMIT},
                         {3, 2 * kSegment}, {3, kSegment}};
    for (const auto& c : cases) {
        for (const auto [threads, memoryLimit] : settingsCases) {
            const Outcome expected = decompressWhole(c.file, threads, memoryLimit);
            for (const std::size_t capacity : {std::size_t{1}, std::size_t{kSegment - 1}, std::size_t{1} << 20}) {
                SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(threads) + " threads, memory limit " +
                             std::to_string(memoryLimit) + ", capacity " + std::to_string(capacity));
                const Outcome got = readInPieces(c.file, threads, memoryLimit, capacity);
                EXPECT_EQ(got.status, expected.status);
                EXPECT_EQ(got.content, expected.content);
                EXPECT_EQ(got.report.fault_offset, expected.report.fault_offset);
                EXPECT_STREQ(got.report.message, expected.report.message);
                if (expected.status == TAVRINE_OK) {
                    EXPECT_EQ(got.report.bytes_in, expected.report.bytes_in);
                    EXPECT_EQ(got.report.bytes_out, expected.report.bytes_out);
                    EXPECT_EQ(got.report.members, expected.report.members);
                    EXPECT_EQ(got.report.segments, expected.report.segments);
                }
            }
        }
    }
}

TEST(TvrObjects, MisuseAndFailingCallbacksGiveStatusesThatStay) {
    const Bytes input = tavrine::test::generateSample(SampleKind::text, 2 * kSegment + 10);
    const tavrine_tvr_settings one = settings(1);
    Memory out;
    tavrine_tvr_writer* writer = nullptr;
    tavrine_tvr_reader* reader = nullptr;

    // Settings outside the format, and missing functions.
    for (const auto& [variant, segment, threads] :
         {std::tuple{3u, kSegment, 1u}, std::tuple{5u, kSegment - 1, 1u}, std::tuple{5u, kSegment, 257u}}) {
        tavrine_tvr_settings bad = settings(threads, variant);
        bad.segment_size = segment;
        EXPECT_EQ(tavrine_tvr_writer_create(&Memory::write, &out, &bad, &writer), TAVRINE_BAD_ARGUMENT);
        EXPECT_EQ(writer, nullptr);
    }
    const tavrine_tvr_settings tooMany = settings(TAVRINE_MAX_THREADS + 1);
    EXPECT_EQ(tavrine_tvr_reader_create(&Memory::read, &out, &tooMany, &reader), TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_tvr_reader_create(nullptr, &out, nullptr, &reader), TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_tvr_writer_create(nullptr, &out, nullptr, &writer), TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(reader, nullptr);

    // Input after the close; a second close writes nothing.
    ASSERT_EQ(tavrine_tvr_writer_create(&Memory::write, &out, nullptr, &writer), TAVRINE_OK);
    EXPECT_EQ(out.bytes.size(), 0u);  // nothing before the first write or close
    EXPECT_EQ(tavrine_tvr_write(writer, input.data(), input.size()), TAVRINE_OK);
    EXPECT_EQ(tavrine_tvr_writer_close(writer), TAVRINE_OK);
    const std::size_t complete = out.bytes.size();
    EXPECT_EQ(tavrine_tvr_writer_close(writer), TAVRINE_OK);
    EXPECT_EQ(tavrine_tvr_write(writer, input.data(), 1), TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(tavrine_tvr_write(writer, nullptr, 0), TAVRINE_BAD_ARGUMENT);
    EXPECT_EQ(out.bytes.size(), complete);
    tavrine_tvr_writer_free(writer);

    // A failing write function, a progress function that stops: the failure stays.
    tavrine_tvr_settings stopping = one;
    stopping.progress = [](void*, std::uint64_t, std::uint64_t) { return 0; };
    const struct {
        const char* what;
        const tavrine_tvr_settings* settings;
        bool failing;
        tavrine_status status;
        const char* message;
    } writes[] = {
        {"failing write", &one, true, TAVRINE_IO_ERROR, "the output cannot be written"},
        {"stopped", &stopping, false, TAVRINE_ABORTED, "stopped by the progress callback"},
    };
    for (const auto& w : writes) {
        Memory sink;
        sink.failing = w.failing;
        ASSERT_EQ(tavrine_tvr_writer_create(&Memory::write, &sink, w.settings, &writer), TAVRINE_OK);
        tavrine_status status = TAVRINE_OK;
        for (std::size_t at = 0; at < input.size() && status == TAVRINE_OK; at += 1000) {
            status = tavrine_tvr_write(writer, input.data() + at, std::min<std::size_t>(1000, input.size() - at));
        }
        EXPECT_EQ(status, w.status) << w.what;
        EXPECT_EQ(tavrine_tvr_write(writer, input.data(), 1), w.status) << w.what;
        EXPECT_EQ(tavrine_tvr_writer_close(writer), w.status) << w.what;
        tavrine_tvr_report report;
        tavrine_tvr_writer_report(writer, &report);
        EXPECT_STREQ(report.message, w.message) << w.what;
        tavrine_tvr_writer_free(writer);
    }

    // A failing read function.
    Memory source{compressWhole(input, one)};
    source.failing = true;
    ASSERT_EQ(tavrine_tvr_reader_create(&Memory::read, &source, nullptr, &reader), TAVRINE_OK);
    std::uint8_t byte = 0;
    std::size_t produced = 1;
    EXPECT_EQ(tavrine_tvr_read(reader, &byte, 1, &produced), TAVRINE_IO_ERROR);
    EXPECT_EQ(produced, 0u);
    source.failing = false;
    EXPECT_EQ(tavrine_tvr_read(reader, &byte, 1, &produced), TAVRINE_IO_ERROR);
    EXPECT_EQ(tavrine_tvr_read(reader, nullptr, 1, &produced), TAVRINE_BAD_ARGUMENT);
    tavrine_tvr_reader_free(reader);
}

TEST(TvrObjects, FreedHalfWayWithWorkersBusy) {
    const Bytes input = tavrine::test::generateSample(SampleKind::text, 12 * kSegment);
    const tavrine_tvr_settings four = settings(4);
    Memory out;
    tavrine_tvr_writer* writer = nullptr;
    ASSERT_EQ(tavrine_tvr_writer_create(&Memory::write, &out, &four, &writer), TAVRINE_OK);
    EXPECT_EQ(tavrine_tvr_write(writer, input.data(), input.size()), TAVRINE_OK);
    tavrine_tvr_writer_free(writer);  // the member stays incomplete
    EXPECT_LT(out.bytes.size(), compressWhole(input, four).size());

    Memory in{compressWhole(input, four)};
    tavrine_tvr_reader* reader = nullptr;
    ASSERT_EQ(tavrine_tvr_reader_create(&Memory::read, &in, &four, &reader), TAVRINE_OK);
    Bytes first(100);
    std::size_t produced = 0;
    EXPECT_EQ(tavrine_tvr_read(reader, first.data(), first.size(), &produced), TAVRINE_OK);
    EXPECT_EQ(first, Bytes(input.begin(), input.begin() + 100));
    tavrine_tvr_reader_free(reader);
}

}  // namespace
