#include "tvr_file.h"

#include <exception>
#include <new>
#include <string>

namespace tavrine::tool {
namespace {

// The tool's source and sink behind the library's read and write functions.
// Their exceptions cannot cross the C interface: each is kept and rethrown
// once the call has returned.
struct Endpoints {
    ByteSource* source = nullptr;
    ByteSink* sink = nullptr;
    const ProgressFunction* progress = nullptr;
    std::exception_ptr failure;
};

std::size_t readFrom(void* user, void* buffer, std::size_t capacity) {
    auto& ends = *static_cast<Endpoints*>(user);
    try {
        return ends.source->readSome(std::span(static_cast<std::uint8_t*>(buffer), capacity));
    } catch (...) {
        ends.failure = std::current_exception();
        return TAVRINE_READ_FAILED;
    }
}

int writeTo(void* user, const void* data, std::size_t size) {
    auto& ends = *static_cast<Endpoints*>(user);
    try {
        ends.sink->write(std::span(static_cast<const std::uint8_t*>(data), size));
        return 0;
    } catch (...) {
        ends.failure = std::current_exception();
        return 1;
    }
}

int tellProgress(void* user, std::uint64_t bytesIn, std::uint64_t bytesOut) {
    const auto& ends = *static_cast<const Endpoints*>(user);
    try {
        TransferStats stats;
        stats.bytesIn = bytesIn;
        stats.bytesOut = bytesOut;
        (*ends.progress)(stats);
    } catch (...) {
        // A progress line that cannot be shown is no reason to stop.
    }
    return 1;
}

tavrine_tvr_settings settingsFor(unsigned threads, Endpoints& ends) {
    tavrine_tvr_settings settings;
    tavrine_tvr_settings_init(&settings);
    settings.threads = threads;
    if (ends.progress != nullptr && *ends.progress) {
        settings.progress = &tellProgress;
        settings.progress_user = &ends;
    }
    return settings;
}

tavrine_tvr_settings compressSettingsFor(const CompressSettings& settings, Endpoints& ends) {
    tavrine_tvr_settings given = settingsFor(settings.threads, ends);
    given.variant = settings.variant;
    given.segment_size = settings.segmentSize;
    return given;
}

tavrine_tvr_settings decompressSettingsFor(const DecompressSettings& settings, Endpoints& ends) {
    tavrine_tvr_settings given = settingsFor(settings.threads, ends);
    given.memory_limit = settings.memoryLimit;
    return given;
}

// Throws what the call's status stands for; a source's or sink's own
// exception first, since it is the cause.
void raise(tavrine_status status, const tavrine_tvr_report& report, const Endpoints& ends) {
    if (status == TAVRINE_OK) return;
    if (ends.failure) std::rethrow_exception(ends.failure);
    switch (status) {
        case TAVRINE_CORRUPT: throw FormatError(report.message + std::string(kCorruptedSuffix));
        case TAVRINE_TRUNCATED:
        case TAVRINE_UNKNOWN_FORMAT: throw FormatError(report.message);
        case TAVRINE_OUT_OF_MEMORY: throw std::bad_alloc();
        case TAVRINE_TOO_LARGE:
            throw CodecError("the input has too many segments for one file; use a larger --segment-size");
        case TAVRINE_MEMORY_LIMIT: throw CodecError(report.message + std::string("; a larger --memory allows it"));
        default: throw CodecError(tavrine_status_text(status));
    }
}

TransferStats statsOf(const tavrine_tvr_report& report) {
    TransferStats stats;
    stats.bytesIn = report.bytes_in;
    stats.bytesOut = report.bytes_out;
    stats.segments = report.segments;
    stats.members = report.members;
    return stats;
}

}  // namespace

TransferStats compressToTvr(ByteSource& source, ByteSink& sink, const CompressSettings& settings,
                            const ProgressFunction& progress) {
    Endpoints ends{&source, &sink, &progress, nullptr};
    const tavrine_tvr_settings given = compressSettingsFor(settings, ends);
    tavrine_tvr_report report;
    raise(tavrine_tvr_compress(&readFrom, &ends, &writeTo, &ends, &given, &report), report, ends);
    return statsOf(report);
}

TransferStats compressToTvr(std::span<const std::uint8_t> bytes, ByteSink& sink,
                            const CompressSettings& settings, const ProgressFunction& progress) {
    Endpoints ends{nullptr, &sink, &progress, nullptr};
    const tavrine_tvr_settings given = compressSettingsFor(settings, ends);
    tavrine_tvr_report report;
    raise(tavrine_tvr_compress_memory(bytes.data(), bytes.size(), &writeTo, &ends, &given, &report),
          report, ends);
    return statsOf(report);
}

TransferStats decompressTvr(ByteSource& source, ByteSink& sink, const DecompressSettings& settings,
                            const ProgressFunction& progress) {
    Endpoints ends{&source, &sink, &progress, nullptr};
    const tavrine_tvr_settings given = decompressSettingsFor(settings, ends);
    tavrine_tvr_report report;
    raise(tavrine_tvr_decompress(&readFrom, &ends, &writeTo, &ends, &given, &report), report, ends);
    return statsOf(report);
}

TransferStats decompressTvr(std::span<const std::uint8_t> bytes, ByteSink& sink,
                            const DecompressSettings& settings, const ProgressFunction& progress) {
    Endpoints ends{nullptr, &sink, &progress, nullptr};
    const tavrine_tvr_settings given = decompressSettingsFor(settings, ends);
    tavrine_tvr_report report;
    raise(tavrine_tvr_decompress_memory(bytes.data(), bytes.size(), &writeTo, &ends, &given, &report),
          report, ends);
    return statsOf(report);
}

TvrListing listTvr(ByteSource& source) {
    Endpoints ends{&source, nullptr, nullptr, nullptr};
    tavrine_tvr_listing found;
    tavrine_tvr_report report;
    raise(tavrine_tvr_list(&readFrom, &ends, &found, &report), report, ends);
    TvrListing listing;
    listing.members = found.members;
    listing.segments = found.segments;
    listing.codedBlocks = found.coded_blocks;
    listing.uncodedBlocks = found.uncoded_blocks;
    listing.compressedSize = found.compressed_size;
    listing.decodedSize = found.decoded_size;
    listing.checksum = found.checksum;
    listing.variant = static_cast<std::uint8_t>(found.variant);
    listing.segmentSize = found.segment_size;
    return listing;
}

}  // namespace tavrine::tool
