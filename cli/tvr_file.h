// The tool's side of .tvr files: the library's writer, reader and listing
// (tavrine_api.h) run on the tool's sources and sinks, with failures turned
// into the tool's exceptions and messages. A source's or sink's own error
// (FileError) comes out as it was thrown.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "byte_io.h"
#include "tvr_format.h"

namespace tavrine::tool {

struct CompressSettings {
    std::uint8_t variant = 5;
    std::uint32_t segmentSize = kDefaultSegmentSize;
    unsigned threads = 1;
};

struct DecompressSettings {
    unsigned threads = 1;
    std::uint64_t memoryLimit = 0;  // what the segments being decoded may hold; 0: no limit
};

struct TransferStats {
    std::uint64_t bytesIn = 0;
    std::uint64_t bytesOut = 0;
    std::uint64_t segments = 0;
    std::uint64_t members = 0;
};

// Told after each segment (or piece of a bare stream): the totals so far.
using ProgressFunction = std::function<void(const TransferStats&)>;

// Writes one complete member. Throws FileError (reading or writing),
// CodecError, std::bad_alloc; the sink then holds an incomplete member.
TransferStats compressToTvr(ByteSource& source, ByteSink& sink, const CompressSettings& settings,
                            const ProgressFunction& progress = {});

// compressToTvr of bytes in memory, coded where they lie.
TransferStats compressToTvr(std::span<const std::uint8_t> bytes, ByteSink& sink,
                            const CompressSettings& settings, const ProgressFunction& progress = {});

// Decodes every member of the input into the sink; stats count compressed
// bytes in and decoded bytes out. Throws FormatError for bad input (after
// writing the verified segments before the damage), FileError, std::bad_alloc.
TransferStats decompressTvr(ByteSource& source, ByteSink& sink, const DecompressSettings& settings,
                            const ProgressFunction& progress = {});

// decompressTvr of a file in memory, whose stored streams are decoded where they lie.
TransferStats decompressTvr(std::span<const std::uint8_t> bytes, ByteSink& sink,
                            const DecompressSettings& settings, const ProgressFunction& progress = {});

struct TvrListing {
    std::uint64_t members = 0;
    std::uint64_t segments = 0;
    std::uint64_t codedBlocks = 0;
    std::uint64_t uncodedBlocks = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t decodedSize = 0;
    std::uint64_t checksum = 0;  // content checksum of the last member
    std::uint8_t variant = 0;    // of the first member
    std::uint32_t segmentSize = 0;
};

// Walks the whole input; throws FormatError when its framing is damaged.
TvrListing listTvr(ByteSource& source);

}  // namespace tavrine::tool
