// Compression into the .tvr format: the input is cut into segments of
// segmentSize bytes, each encoded as one independent codec stream on the
// pool's threads and written in input order behind its frame. An input of
// fewer segments than threads has the blocks of its segments sorted on the
// threads left over. The output is the same bytes for any number of threads.
// Works on input of unknown length; memory stays near (threads + 2) x 2
// segments, in buffers that serve segment after segment.
#pragma once

#include <cstdint>
#include <functional>

#include "container/byte_io.h"
#include "container/tvr_format.h"

namespace tavrine::container {

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

// Told after each segment: the totals so far. Returns false to stop the call,
// which then throws ContainerError (aborted).
using ProgressFunction = std::function<bool(const TransferStats&)>;

// Writes one complete member. Throws ContainerError (reading or writing,
// too many segments, aborted) and std::bad_alloc; the sink then holds an
// incomplete member.
TransferStats compressToTvr(ByteSource& source, ByteSink& sink, const CompressSettings& settings,
                            const ProgressFunction& progress = {});

}  // namespace tavrine::container
