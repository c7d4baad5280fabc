// Compression into the .tvr format: the input is cut into segments of
// segmentSize bytes, each encoded as one independent codec stream on the
// pool's threads and written in input order behind its frame. The output is
// the same bytes for any number of threads. Works on input of unknown length;
// memory stays near (threads + 1) x 2 segments.
#pragma once

#include <cstdint>
#include <functional>

#include "byte_io.h"
#include "tvr_format.h"

namespace tavrine::tool {

struct CompressSettings {
    std::uint8_t variant = 5;
    std::uint32_t segmentSize = kDefaultSegmentSize;
    unsigned threads = 1;
};

struct TransferStats {
    std::uint64_t bytesIn = 0;
    std::uint64_t bytesOut = 0;
    std::uint64_t segments = 0;
    std::uint64_t members = 0;
};

// Told after each segment: the totals so far.
using ProgressFunction = std::function<void(const TransferStats&)>;

// Writes one complete member. Throws FileError (reading or writing),
// CodecError, std::bad_alloc; the sink then holds an incomplete member.
TransferStats compressToTvr(ByteSource& source, ByteSink& sink, const CompressSettings& settings,
                            const ProgressFunction& progress = {});

}  // namespace tavrine::tool
