// The .tvr reader and writer objects of the C interface: the container's
// segment reader and member writer behind C handles. A failure stays with its
// handle, and the handle's report tells what it was and where.
#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "api/api_call.h"
#include "api/tvr_api.h"
#include "container/byte_io.h"

namespace {

using tavrine::container::ContainerError;
using tavrine::container::TransferStats;

// What stopped a handle, kept in a buffer of the report's size so that
// recording it cannot fail.
struct Failure {
    tavrine_status status = TAVRINE_OK;
    std::uint64_t offset = 0;
    char message[sizeof tavrine_tvr_report{}.message] = {};

    void record(tavrine_status failed, std::uint64_t at, const char* text) noexcept {
        status = failed;
        offset = at;
        const std::size_t length = std::min(std::strlen(text), sizeof message - 1);
        std::memcpy(message, text, length);
        message[length] = '\0';
    }
};

// Runs a container step of a handle that has not failed; a throw becomes the
// handle's failure.
template <typename Body>
tavrine_status handleStep(Failure& failure, Body&& body) noexcept {
    if (failure.status != TAVRINE_OK) return failure.status;
    try {
        body();
    } catch (const ContainerError& error) {
        failure.record(error.status(), error.offset(), error.what());
    } catch (...) {
        failure.record(TAVRINE_OUT_OF_MEMORY, 0, "not enough memory");
    }
    return failure.status;
}

void fillReport(tavrine_tvr_report* report, const TransferStats& stats,
                const Failure& failure) noexcept {
    *report = tavrine_tvr_report{};
    report->bytes_in = stats.bytesIn;
    report->bytes_out = stats.bytesOut;
    report->members = stats.members;
    report->segments = stats.segments;
    if (failure.status == TAVRINE_OK) return;
    report->fault_offset = failure.offset;
    std::memcpy(report->message, failure.message, sizeof report->message);
}

// Creates a handle; memory exhaustion, or a worker thread that cannot be
// started, leaves *handle null.
template <typename Handle, typename... Arguments>
tavrine_status createHandle(Handle** handle, const Arguments&... arguments) noexcept {
    return tavrine::api::guardedCall([&] {
        *handle = std::make_unique<Handle>(arguments...).release();
        return TAVRINE_OK;
    });
}

}  // namespace

struct tavrine_tvr_reader {
    tavrine_tvr_reader(tavrine_read_function read, void* user,
                       const tavrine::container::DecompressSettings& settings)
        : source(read, user), segments(source, settings) {}

    // Hands out the rest of the current segment; true when it is all out.
    bool handOut(std::span<std::uint8_t> into, std::size_t& filled) noexcept {
        const std::size_t n = std::min(into.size() - filled, segment.size() - handed);
        std::copy_n(segment.begin() + static_cast<std::ptrdiff_t>(handed), n,
                    into.begin() + static_cast<std::ptrdiff_t>(filled));
        handed += n;
        filled += n;
        return handed == segment.size();
    }

    tavrine::container::CallbackSource source;
    tavrine::container::TvrSegmentReader segments;  // reads from source
    std::span<const std::uint8_t> segment;  // the verified segment being handed out (the reader's)
    std::size_t handed = 0;             // bytes of it handed out
    std::uint64_t handedOut = 0;        // bytes handed out in all
    bool ended = false;                 // the content is complete and verified
    Failure failure;
};

struct tavrine_tvr_writer {
    tavrine_tvr_writer(tavrine_write_function write, void* user, const tavrine_tvr_settings& given)
        : settings(given), sink(write, user),
          member(sink, tavrine::api::compressSettingsOf(settings), tavrine::api::progressOf(settings)) {}

    const tavrine_tvr_settings settings;  // the progress function refers to it
    tavrine::container::CallbackSink sink;
    tavrine::container::TvrMemberWriter member;  // writes to sink
    bool closed = false;
    Failure failure;
};

extern "C" {

TAVRINE_ENTRY tavrine_status tavrine_tvr_reader_create(tavrine_read_function read, void* user,
                                                       const tavrine_tvr_settings* settings,
                                                       tavrine_tvr_reader** reader) noexcept {
    if (reader == nullptr) return TAVRINE_BAD_ARGUMENT;
    *reader = nullptr;
    const tavrine_tvr_settings chosen = tavrine::api::settingsOrDefaults(settings);
    if (read == nullptr || !tavrine::api::decompressSettingsValid(chosen)) return TAVRINE_BAD_ARGUMENT;
    return createHandle(reader, read, user, tavrine::api::decompressSettingsOf(chosen));
}

TAVRINE_ENTRY void tavrine_tvr_reader_free(tavrine_tvr_reader* reader) noexcept { delete reader; }

TAVRINE_ENTRY tavrine_status tavrine_tvr_read(tavrine_tvr_reader* reader, void* buffer,
                                              size_t capacity, size_t* produced) noexcept {
    if (produced != nullptr) *produced = 0;
    if (reader == nullptr || produced == nullptr || (buffer == nullptr && capacity != 0)) {
        return TAVRINE_BAD_ARGUMENT;
    }
    const std::span into(static_cast<std::uint8_t*>(buffer), capacity);
    std::size_t filled = 0;
    // A failure after some bytes waits for the next call, as read(2) has it.
    while (filled < capacity && reader->handOut(into, filled) && !reader->ended) {
        const tavrine_status status = handleStep(reader->failure, [&] {
            reader->segment = {};  // the reader reuses its memory
            reader->handed = 0;
            reader->segment = reader->segments.next();
            reader->ended = reader->segment.empty();
        });
        if (status != TAVRINE_OK) break;
    }
    *produced = filled;
    reader->handedOut += filled;
    return filled == 0 ? reader->failure.status : TAVRINE_OK;
}

TAVRINE_ENTRY void tavrine_tvr_reader_report(const tavrine_tvr_reader* reader,
                                             tavrine_tvr_report* report) noexcept {
    if (report == nullptr) return;
    if (reader == nullptr) {
        *report = tavrine_tvr_report{};
        return;
    }
    TransferStats stats = reader->segments.stats();
    stats.bytesOut = reader->handedOut;
    fillReport(report, stats, reader->failure);
}

TAVRINE_ENTRY tavrine_status tavrine_tvr_writer_create(tavrine_write_function write, void* user,
                                                       const tavrine_tvr_settings* settings,
                                                       tavrine_tvr_writer** writer) noexcept {
    if (writer == nullptr) return TAVRINE_BAD_ARGUMENT;
    *writer = nullptr;
    const tavrine_tvr_settings chosen = tavrine::api::settingsOrDefaults(settings);
    if (write == nullptr || !tavrine::api::compressSettingsValid(chosen)) return TAVRINE_BAD_ARGUMENT;
    return createHandle(writer, write, user, chosen);
}

TAVRINE_ENTRY void tavrine_tvr_writer_free(tavrine_tvr_writer* writer) noexcept { delete writer; }

TAVRINE_ENTRY tavrine_status tavrine_tvr_write(tavrine_tvr_writer* writer, const void* data,
                                               size_t size) noexcept {
    if (writer == nullptr || (data == nullptr && size != 0)) return TAVRINE_BAD_ARGUMENT;
    if (writer->failure.status != TAVRINE_OK) return writer->failure.status;
    if (writer->closed) return TAVRINE_BAD_ARGUMENT;
    return handleStep(writer->failure, [&] {
        writer->member.write(std::span(static_cast<const std::uint8_t*>(data), size));
    });
}

TAVRINE_ENTRY tavrine_status tavrine_tvr_writer_close(tavrine_tvr_writer* writer) noexcept {
    if (writer == nullptr) return TAVRINE_BAD_ARGUMENT;
    if (writer->closed) return TAVRINE_OK;
    const tavrine_status status = handleStep(writer->failure, [&] { writer->member.close(); });
    writer->closed = status == TAVRINE_OK;
    return status;
}

TAVRINE_ENTRY void tavrine_tvr_writer_report(const tavrine_tvr_writer* writer,
                                             tavrine_tvr_report* report) noexcept {
    if (report == nullptr) return;
    if (writer == nullptr) {
        *report = tavrine_tvr_report{};
        return;
    }
    fillReport(report, writer->member.stats(), writer->failure);
}

}  // extern "C"
