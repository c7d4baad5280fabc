// Reading .tvr files: decompression (segments decoded on the pool's threads,
// written in order, every checksum verified) and listing (frames and block
// headers walked, nothing decoded). Any input at all may be passed: damage,
// truncation and foreign data end in FormatError with a plain-words message,
// never in a crash, and decompression writes only segments whose checksum
// matched. Both work on a memory buffer through MemorySource.
#pragma once

#include <cstdint>

#include "byte_io.h"
#include "tvr_format.h"
#include "tvr_writer.h"

namespace tavrine::tool {

struct DecompressSettings {
    unsigned threads = 1;
};

// Decodes every member of the input into the sink; stats count compressed
// bytes in and decoded bytes out. Throws FormatError for bad input (after
// writing the verified segments before the damage), FileError, std::bad_alloc.
TransferStats decompressTvr(ByteSource& source, ByteSink& sink, const DecompressSettings& settings,
                            const ProgressFunction& progress = {});

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
