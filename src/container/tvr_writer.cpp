#include "container/tvr_writer.h"

#include <limits>
#include <vector>

#include "container/checksum.h"
#include "container/ordered_pool.h"
#include "container/segment_codec.h"

namespace tavrine::container {
namespace {

struct EncodedSegment {
    std::vector<std::uint8_t> stream;
    SegmentFrame frame;
};

EncodedSegment encodeSegment(std::uint8_t variant, const std::vector<std::uint8_t>& input) {
    EncodedSegment segment;
    segment.stream = encodeStream(variant, input);
    segment.frame.storedSize = static_cast<std::uint32_t>(segment.stream.size());
    segment.frame.decodedSize = static_cast<std::uint32_t>(input.size());
    segment.frame.checksum = contentChecksum(input);
    segment.frame.storedCheck = frameCheck(segment.stream);
    return segment;
}

class MemberWriter {
public:
    MemberWriter(ByteSink& sink, const ProgressFunction& progress)
        : sink_(sink), progress_(progress) {}

    void put(std::span<const std::uint8_t> bytes) {
        sink_.write(bytes);
        stats_.bytesOut += bytes.size();
    }

    void putSegment(const EncodedSegment& segment) {
        put(encodeSegmentFrame(segment.frame));
        put(segment.stream);
        stats_.bytesIn += segment.frame.decodedSize;
        ++stats_.segments;
        if (progress_ && !progress_(stats_)) {
            throw ContainerError(TAVRINE_ABORTED, stats_.bytesIn, "stopped by the progress callback");
        }
    }

    const TransferStats& stats() const noexcept { return stats_; }

private:
    ByteSink& sink_;
    const ProgressFunction& progress_;
    TransferStats stats_;
};

}  // namespace

TransferStats compressToTvr(ByteSource& source, ByteSink& sink, const CompressSettings& settings,
                            const ProgressFunction& progress) {
    MemberWriter writer(sink, progress);
    writer.put(encodeHeader(FileHeader{settings.variant, settings.segmentSize}));

    StreamingChecksum content;
    std::uint64_t segmentCount = 0;
    OrderedPool<EncodedSegment> pool(settings.threads);
    for (;;) {
        if (pool.full()) writer.putSegment(pool.takeNext());
        std::vector<std::uint8_t> input(settings.segmentSize);
        input.resize(readUpTo(source, input));
        if (input.empty()) break;
        if (++segmentCount > std::numeric_limits<std::uint32_t>::max()) {
            throw ContainerError(TAVRINE_TOO_LARGE, (segmentCount - 1) * settings.segmentSize,
                                 "the input has too many segments for one file");
        }
        content.update(input);
        const bool last = input.size() < settings.segmentSize;
        pool.submit([variant = settings.variant, input = std::move(input)] {
            return encodeSegment(variant, input);
        });
        while (pool.nextReady()) writer.putSegment(pool.takeNext());
        if (last) break;
    }
    while (!pool.idle()) writer.putSegment(pool.takeNext());

    EndFrame end;
    end.segmentCount = static_cast<std::uint32_t>(segmentCount);
    end.decodedSize = writer.stats().bytesIn;
    end.checksum = content.digest();
    writer.put(encodeEndFrame(end));
    TransferStats stats = writer.stats();
    stats.members = 1;
    return stats;
}

}  // namespace tavrine::container
