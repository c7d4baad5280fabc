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
#include <memory>
#include <span>

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

// Compression into the .tvr format with the input pushed in pieces of any
// size: every full segment goes to the pool as soon as it is complete, and
// close() codes the rest and writes the end frame. The bytes equal
// compressToTvr's for the same whole input and settings. Nothing is written
// before the first write() or close(). After a throw the member is
// incomplete and the writer is not to be used further.
class TvrMemberWriter {
public:
    TvrMemberWriter(ByteSink& sink, const CompressSettings& settings, ProgressFunction progress = {});
    ~TvrMemberWriter();
    TvrMemberWriter(const TvrMemberWriter&) = delete;
    TvrMemberWriter& operator=(const TvrMemberWriter&) = delete;

    // Throws as compressToTvr does.
    void write(std::span<const std::uint8_t> bytes);
    // Completes the member; later calls do nothing.
    void close();
    // Segments written so far: input bytes they hold and output bytes.
    TransferStats stats() const noexcept;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tavrine::container
