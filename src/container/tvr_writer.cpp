#include "container/tvr_writer.h"

#include <algorithm>
#include <limits>
#include <utility>
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

// Counts one more segment of a member; a file counts at most 2^32 - 1.
void countSegment(std::uint64_t& segmentCount, std::uint32_t segmentSize) {
    if (++segmentCount > std::numeric_limits<std::uint32_t>::max()) {
        throw ContainerError(TAVRINE_TOO_LARGE, (segmentCount - 1) * segmentSize,
                             "the input has too many segments for one file");
    }
}

// The end frame of a member whose segments are all written.
EndFrame endFrameOf(std::uint64_t segmentCount, const TransferStats& written,
                    const StreamingChecksum& content) {
    EndFrame end;
    end.segmentCount = static_cast<std::uint32_t>(segmentCount);
    end.decodedSize = written.bytesIn;
    end.checksum = content.digest();
    return end;
}

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
        countSegment(segmentCount, settings.segmentSize);
        content.update(input);
        const bool last = input.size() < settings.segmentSize;
        pool.submit([variant = settings.variant, input = std::move(input)] {
            return encodeSegment(variant, input);
        });
        while (pool.nextReady()) writer.putSegment(pool.takeNext());
        if (last) break;
    }
    while (!pool.idle()) writer.putSegment(pool.takeNext());

    writer.put(encodeEndFrame(endFrameOf(segmentCount, writer.stats(), content)));
    TransferStats stats = writer.stats();
    stats.members = 1;
    return stats;
}

struct TvrMemberWriter::State {
    State(ByteSink& sink, const CompressSettings& given, ProgressFunction progressFunction)
        : settings(given), progress(std::move(progressFunction)), writer(sink, progress),
          pool(given.threads) {}

    // The segment being gathered is complete, or the input ended: it goes to
    // the pool, and every segment coded meanwhile is written.
    void submitGathered() {
        if (pool.full()) writer.putSegment(pool.takeNext());
        countSegment(segmentCount, settings.segmentSize);
        content.update(gathered);
        pool.submit([variant = settings.variant, input = std::move(gathered)] {
            return encodeSegment(variant, input);
        });
        gathered = {};
        while (pool.nextReady()) writer.putSegment(pool.takeNext());
    }

    void startMember() {
        if (started) return;
        writer.put(encodeHeader(FileHeader{settings.variant, settings.segmentSize}));
        started = true;
    }

    const CompressSettings settings;
    const ProgressFunction progress;  // before writer, which refers to it
    MemberWriter writer;
    StreamingChecksum content;
    std::vector<std::uint8_t> gathered;  // input of the next segment, below segmentSize bytes
    std::uint64_t segmentCount = 0;
    bool started = false;
    bool closed = false;
    OrderedPool<EncodedSegment> pool;  // last: its threads stop before the rest goes
};

TvrMemberWriter::TvrMemberWriter(ByteSink& sink, const CompressSettings& settings,
                                 ProgressFunction progress)
    : state_(std::make_unique<State>(sink, settings, std::move(progress))) {}

TvrMemberWriter::~TvrMemberWriter() = default;

void TvrMemberWriter::write(std::span<const std::uint8_t> bytes) {
    State& state = *state_;
    state.startMember();
    const std::size_t segmentSize = state.settings.segmentSize;
    while (!bytes.empty()) {
        if (state.gathered.empty()) state.gathered.reserve(segmentSize);
        const std::size_t taken = std::min(segmentSize - state.gathered.size(), bytes.size());
        state.gathered.insert(state.gathered.end(), bytes.begin(),
                              bytes.begin() + static_cast<std::ptrdiff_t>(taken));
        bytes = bytes.subspan(taken);
        if (state.gathered.size() == segmentSize) state.submitGathered();
    }
}

void TvrMemberWriter::close() {
    State& state = *state_;
    if (state.closed) return;
    state.startMember();
    if (!state.gathered.empty()) state.submitGathered();
    while (!state.pool.idle()) state.writer.putSegment(state.pool.takeNext());
    state.writer.put(
        encodeEndFrame(endFrameOf(state.segmentCount, state.writer.stats(), state.content)));
    state.closed = true;
}

TransferStats TvrMemberWriter::stats() const noexcept {
    TransferStats stats = state_->writer.stats();
    stats.members = state_->closed ? 1 : 0;
    return stats;
}

}  // namespace tavrine::container
