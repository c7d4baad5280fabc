// Reading .tvr files: decompression (segments decoded on the pool's threads,
// written in order, every checksum verified) and listing (frames and block
// headers walked, nothing decoded). Any input at all may be passed: damage,
// truncation and foreign data end in ContainerError with a plain-words
// message and the input offset of the fault, never in a crash, and
// decompression writes only segments whose checksum matched.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "container/byte_io.h"
#include "container/tvr_format.h"
#include "container/tvr_writer.h"

namespace tavrine::container {

struct DecompressSettings {
    unsigned threads = 1;
    // Bytes the buffers of segments in flight (stored and decoded bytes) may
    // hold at once; 0: no limit. A segment that needs more on its own is
    // refused (TAVRINE_MEMORY_LIMIT).
    std::uint64_t memoryLimit = 0;
};

// Decodes every member of the input into the sink; stats count compressed
// bytes in and decoded bytes out. Throws ContainerError for bad input (after
// writing the verified segments before the damage), for failed reads and
// writes and when stopped, and std::bad_alloc.
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

// Walks the whole input; throws ContainerError when its framing is damaged.
TvrListing listTvr(ByteSource& source);

// Decompression pulled by the caller, one segment at a time: next() reads
// frames as far as the pool and the memory limit have room (so that up to
// `threads` segments decode ahead) and returns the oldest segment's bytes once
// its checksums matched, valid until the next call, or an empty span at the
// end of the input, and only once every member's end frame and content
// checksum agreed. It fails as decompressTvr does, in
// input order: the segments before damage to the framing come out first. The
// source must outlive the reader; after a throw the reader is done.
class TvrSegmentReader {
public:
    TvrSegmentReader(ByteSource& source, const DecompressSettings& settings);
    ~TvrSegmentReader();
    TvrSegmentReader(const TvrSegmentReader&) = delete;
    TvrSegmentReader& operator=(const TvrSegmentReader&) = delete;

    std::span<const std::uint8_t> next();
    // Input bytes read so far, the segments returned and their bytes, and
    // the members whose end was verified.
    TransferStats stats() const noexcept;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tavrine::container
