// --raw: bare codec streams without any framing, for exchange with host
// applications. Compression gives byte for byte what ZOLT_Encode writes for
// the whole input; decompression sizes its output with the module's
// decoded-length walk. Both hold the whole input in memory, and a stream's
// 32-bit lengths limit the input to 4 GiB - 1 bytes. No checksum protects a
// bare stream: damage is found only where the codec's own checks catch it.
#pragma once

#include <cstdint>

#include "byte_io.h"
#include "tvr_writer.h"

namespace tavrine::tool {

// Throws CodecError for input past 4 GiB - 1 bytes, FileError, std::bad_alloc.
TransferStats compressRaw(ByteSource& source, ByteSink& sink, std::uint8_t variant,
                          const ProgressFunction& progress = {});

// Throws FormatError when the stream's block headers do not tile it or it
// does not decode.
TransferStats decompressRaw(ByteSource& source, ByteSink& sink, const ProgressFunction& progress = {});

struct RawListing {
    std::uint64_t codedBlocks = 0;
    std::uint64_t uncodedBlocks = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t decodedSize = 0;  // as the block headers announce it
};

// Walks the block headers; throws FormatError when they do not tile the input.
RawListing listRaw(ByteSource& source);

}  // namespace tavrine::tool
