#include "raw_stream.h"

#include <memory>
#include <vector>

#include "segment_codec.h"
#include "tvr_format.h"

namespace tavrine::tool {
namespace {

constexpr std::size_t kReadPiece = 1u << 20;

// The whole input; throws `tooLarge` once it passes kMaxStreamInput bytes.
template <typename Error>
std::vector<std::uint8_t> readWhole(ByteSource& source, const Error& tooLarge) {
    std::vector<std::uint8_t> bytes;
    for (;;) {
        const std::size_t start = bytes.size();
        bytes.resize(start + kReadPiece);
        const std::size_t got = readUpTo(source, std::span(bytes.data() + start, kReadPiece));
        bytes.resize(start + got);
        if (bytes.size() > kMaxStreamInput) throw tooLarge;
        if (got < kReadPiece) return bytes;
    }
}

int ZOLT_CALL reportProgress(void* user, std::uint32_t done, std::uint32_t /*total*/) {
    try {
        const auto& progress = *static_cast<const ProgressFunction*>(user);
        TransferStats stats;
        stats.bytesIn = done;
        progress(stats);
    } catch (...) {
        // A progress line that cannot be shown is no reason to stop.
    }
    return 1;
}

ZOLT_ProgressCallback callbackFor(const ProgressFunction& progress) {
    return progress ? &reportProgress : nullptr;
}

void* userFor(const ProgressFunction& progress) {
    return const_cast<ProgressFunction*>(&progress);
}

std::string damaged(const std::string& what) { return what + kCorruptedSuffix; }

}  // namespace

TransferStats compressRaw(ByteSource& source, ByteSink& sink, std::uint8_t variant,
                          const ProgressFunction& progress) {
    const std::vector<std::uint8_t> input =
        readWhole(source, CodecError("too large for --raw: a bare stream holds at most 4 GiB - 1 bytes"));
    const std::vector<std::uint8_t> stream =
        encodeStream(variant, input, callbackFor(progress), userFor(progress));
    sink.write(stream);
    TransferStats stats;
    stats.bytesIn = input.size();
    stats.bytesOut = stream.size();
    stats.segments = 1;
    return stats;
}

TransferStats decompressRaw(ByteSource& source, ByteSink& sink, const ProgressFunction& progress) {
    const std::vector<std::uint8_t> stream =
        readWhole(source, FormatError("too large to be a bare stream (more than 4 GiB - 1 bytes)"));
    const auto length = announcedLength(stream);
    if (!length) throw FormatError(damaged("not a bare tavrine stream, or a damaged one: its block headers do not add up"));
    // Left uninitialised on purpose: a hostile stream can announce far more
    // than it holds, and untouched pages cost nothing before decoding fails.
    const std::unique_ptr<std::uint8_t[]> decoded(new std::uint8_t[*length == 0 ? 1 : *length]);
    const std::span<std::uint8_t> output(decoded.get(), *length);
    if (!decodeStream(stream, output, callbackFor(progress), userFor(progress))) {
        throw FormatError(damaged("the stream does not decode"));
    }
    sink.write(output);
    TransferStats stats;
    stats.bytesIn = stream.size();
    stats.bytesOut = *length;
    stats.segments = 1;
    return stats;
}

RawListing listRaw(ByteSource& source) {
    const std::vector<std::uint8_t> stream =
        readWhole(source, FormatError("too large to be a bare stream (more than 4 GiB - 1 bytes)"));
    const auto blocks = countBlocks(stream);
    const auto length = announcedLength(stream);
    if (!blocks || !length) {
        throw FormatError(damaged("not a bare tavrine stream, or a damaged one: its block headers do not add up"));
    }
    RawListing listing;
    listing.codedBlocks = blocks->coded;
    listing.uncodedBlocks = blocks->uncoded;
    listing.compressedSize = stream.size();
    listing.decodedSize = *length;
    return listing;
}

}  // namespace tavrine::tool
