// .tvr files through the C interface: the container's writer, reader and
// listing on the caller's read and write functions, with what they found
// copied into the caller's report.
#include <algorithm>
#include <cstring>
#include <string>

#include "api/api_call.h"
#include "api/tvr_api.h"
#include "container/byte_io.h"
#include "container/tvr_reader.h"
#include "container/tvr_writer.h"
#include "stream/stream_format.h"

namespace tavrine::api {
namespace {

using container::ContainerError;
using container::TransferStats;

tavrine_tvr_settings defaultSettings() noexcept {
    tavrine_tvr_settings settings{};
    settings.variant = TAVRINE_VARIANT_RANGE_CODED;
    settings.segment_size = TAVRINE_TVR_DEFAULT_SEGMENT_SIZE;
    settings.threads = 1;
    settings.memory_limit = TAVRINE_TVR_DEFAULT_MEMORY_LIMIT;
    return settings;
}

bool threadsValid(const tavrine_tvr_settings& settings) noexcept {
    return settings.threads <= TAVRINE_MAX_THREADS;
}

unsigned threadCount(const tavrine_tvr_settings& settings) noexcept {
    return std::max(settings.threads, 1u);
}

void setMessage(tavrine_tvr_report* report, const char* message) noexcept {
    if (report == nullptr) return;
    const std::size_t length = std::min(std::strlen(message), sizeof report->message - 1);
    std::memcpy(report->message, message, length);
    report->message[length] = '\0';
}

void recordStats(tavrine_tvr_report* report, const TransferStats& stats) noexcept {
    if (report == nullptr) return;
    report->bytes_in = stats.bytesIn;
    report->bytes_out = stats.bytesOut;
    report->members = stats.members;
    report->segments = stats.segments;
}

// Runs a container call; its failure goes into the report as status, input
// offset and message.
template <typename Body>
tavrine_status containerCall(tavrine_tvr_report* report, Body&& body) noexcept {
    if (report != nullptr) *report = tavrine_tvr_report{};
    try {
        body();
        return TAVRINE_OK;
    } catch (const ContainerError& error) {
        if (report != nullptr) report->fault_offset = error.offset();
        setMessage(report, error.what());
        return error.status();
    } catch (...) {
        setMessage(report, "not enough memory");
        return TAVRINE_OUT_OF_MEMORY;
    }
}

}  // namespace

tavrine_tvr_settings settingsOrDefaults(const tavrine_tvr_settings* given) noexcept {
    return given != nullptr ? *given : defaultSettings();
}

bool compressSettingsValid(const tavrine_tvr_settings& settings) noexcept {
    return ZOLT_IsSupportedEncodeType(kStreamType, settings.variant) != 0 && threadsValid(settings) &&
           settings.segment_size >= TAVRINE_TVR_MIN_SEGMENT_SIZE &&
           settings.segment_size <= TAVRINE_TVR_MAX_SEGMENT_SIZE;
}

bool decompressSettingsValid(const tavrine_tvr_settings& settings) noexcept {
    return threadsValid(settings);
}

container::CompressSettings compressSettingsOf(const tavrine_tvr_settings& settings) noexcept {
    return {static_cast<std::uint8_t>(settings.variant), settings.segment_size, threadCount(settings)};
}

container::DecompressSettings decompressSettingsOf(const tavrine_tvr_settings& settings) noexcept {
    return {threadCount(settings), settings.memory_limit};
}

container::ProgressFunction progressOf(const tavrine_tvr_settings& settings) {
    if (settings.progress == nullptr) return {};
    return [&settings](const TransferStats& stats) {
        return settings.progress(settings.progress_user, stats.bytesIn, stats.bytesOut) != 0;
    };
}

tavrine_status compressTvr(container::ByteSource& source, container::ByteSink& sink,
                           const tavrine_tvr_settings* given, tavrine_tvr_report* report) noexcept {
    const tavrine_tvr_settings settings = settingsOrDefaults(given);
    if (!compressSettingsValid(settings)) {
        if (report != nullptr) *report = tavrine_tvr_report{};
        return TAVRINE_BAD_ARGUMENT;
    }
    return containerCall(report, [&] {
        recordStats(report, container::compressToTvr(source, sink, compressSettingsOf(settings),
                                                     progressOf(settings)));
    });
}

tavrine_status decompressTvr(container::ByteSource& source, container::ByteSink& sink,
                             const tavrine_tvr_settings* given, tavrine_tvr_report* report) noexcept {
    const tavrine_tvr_settings settings = settingsOrDefaults(given);
    if (!decompressSettingsValid(settings)) {
        if (report != nullptr) *report = tavrine_tvr_report{};
        return TAVRINE_BAD_ARGUMENT;
    }
    return containerCall(report, [&] {
        recordStats(report, container::decompressTvr(source, sink, decompressSettingsOf(settings),
                                                     progressOf(settings)));
    });
}

// A .tvr call on the size bytes at data, which a memory source lends in place.
tavrine_status onMemory(const void* data, std::size_t size, tavrine_write_function write, void* writer,
                        const tavrine_tvr_settings* settings, tavrine_tvr_report* report,
                        tavrine_status (*call)(container::ByteSource&, container::ByteSink&,
                                               const tavrine_tvr_settings*, tavrine_tvr_report*) noexcept) noexcept {
    if ((data == nullptr && size != 0) || write == nullptr) return TAVRINE_BAD_ARGUMENT;
    container::MemorySource source({static_cast<const std::uint8_t*>(data), size});
    container::CallbackSink sink(write, writer);
    return call(source, sink, settings, report);
}

}  // namespace tavrine::api

extern "C" {

TAVRINE_ENTRY void tavrine_tvr_settings_init(tavrine_tvr_settings* settings) noexcept {
    if (settings != nullptr) *settings = tavrine::api::defaultSettings();
}

TAVRINE_ENTRY tavrine_status tavrine_tvr_compress(tavrine_read_function read, void* reader,
                                                  tavrine_write_function write, void* writer,
                                                  const tavrine_tvr_settings* settings,
                                                  tavrine_tvr_report* report) noexcept {
    if (read == nullptr || write == nullptr) return TAVRINE_BAD_ARGUMENT;
    tavrine::container::CallbackSource source(read, reader);
    tavrine::container::CallbackSink sink(write, writer);
    return tavrine::api::compressTvr(source, sink, settings, report);
}

TAVRINE_ENTRY tavrine_status tavrine_tvr_compress_memory(const void* data, std::size_t size,
                                                         tavrine_write_function write, void* writer,
                                                         const tavrine_tvr_settings* settings,
                                                         tavrine_tvr_report* report) noexcept {
    return tavrine::api::onMemory(data, size, write, writer, settings, report, &tavrine::api::compressTvr);
}

TAVRINE_ENTRY tavrine_status tavrine_tvr_decompress(tavrine_read_function read, void* reader,
                                                    tavrine_write_function write, void* writer,
                                                    const tavrine_tvr_settings* settings,
                                                    tavrine_tvr_report* report) noexcept {
    if (read == nullptr || write == nullptr) return TAVRINE_BAD_ARGUMENT;
    tavrine::container::CallbackSource source(read, reader);
    tavrine::container::CallbackSink sink(write, writer);
    return tavrine::api::decompressTvr(source, sink, settings, report);
}

TAVRINE_ENTRY tavrine_status tavrine_tvr_decompress_memory(const void* data, std::size_t size,
                                                           tavrine_write_function write, void* writer,
                                                           const tavrine_tvr_settings* settings,
                                                           tavrine_tvr_report* report) noexcept {
    return tavrine::api::onMemory(data, size, write, writer, settings, report, &tavrine::api::decompressTvr);
}

TAVRINE_ENTRY tavrine_status tavrine_tvr_list(tavrine_read_function read, void* reader,
                                              tavrine_tvr_listing* listing,
                                              tavrine_tvr_report* report) noexcept {
    if (read == nullptr || listing == nullptr) return TAVRINE_BAD_ARGUMENT;
    tavrine::container::CallbackSource source(read, reader);
    return tavrine::api::containerCall(report, [&] {
        const tavrine::container::TvrListing found = tavrine::container::listTvr(source);
        *listing = tavrine_tvr_listing{found.members,        found.segments,
                                       found.codedBlocks,    found.uncodedBlocks,
                                       found.compressedSize, found.decodedSize,
                                       found.checksum,       found.variant,
                                       found.segmentSize};
        if (report != nullptr) {
            report->bytes_in = found.compressedSize;
            report->members = found.members;
            report->segments = found.segments;
        }
    });
}

}  // extern "C"
