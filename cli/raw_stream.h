// --raw: bare codec streams without any framing, for exchange with host
// applications. Both directions run on the library's streaming coders in
// pieces of fixed size, so that memory stays the same for any length, from
// pipes as from files. Compression gives byte for byte what ZOLT_Encode
// writes for the whole input and refuses input over 4 GiB - 1 bytes, the
// most a one-shot host can hand over: before reading when its size is known,
// as soon as the input passes it when not. Decompression takes streams of
// any length. No checksum protects a bare stream: damage is found only where
// the codec's own checks catch it, after the bytes of the blocks before it
// have been written.
#pragma once

#include <cstdint>

#include "byte_io.h"
#include "tvr_file.h"

namespace tavrine::tool {

// The largest input --raw compresses: the source length of ZOLT_Encode.
constexpr std::uint64_t kMaxRawInput = 0xFFFFFFFFu;

// `knownSize` is the input's size when known beforehand, else 0; `threads`
// (2 or more) sort the blocks on that many threads, the same bytes. Throws
// CodecError for input past kMaxRawInput bytes, FileError, std::bad_alloc.
TransferStats compressRaw(ByteSource& source, ByteSink& sink, std::uint8_t variant,
                          const ProgressFunction& progress = {}, std::uint64_t knownSize = 0,
                          unsigned threads = 1);

// `threads` (2 or more) run the inverse sorts on that many threads. Throws
// FormatError when the stream holds a block that does not decode or ends
// inside a block, FileError, std::bad_alloc.
TransferStats decompressRaw(ByteSource& source, ByteSink& sink, const ProgressFunction& progress = {},
                            unsigned threads = 1);

struct RawListing {
    std::uint64_t codedBlocks = 0;
    std::uint64_t uncodedBlocks = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t decodedSize = 0;  // as the block headers announce it
};

// Walks the block headers, skipping the payloads; throws FormatError when
// they do not tile the input.
RawListing listRaw(ByteSource& source);

}  // namespace tavrine::tool
