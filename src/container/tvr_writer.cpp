#include "container/tvr_writer.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

#include "container/checksum.h"
#include "container/ordered_pool.h"
#include "container/segment_buffer.h"
#include "container/segment_codec.h"

namespace tavrine::container {
namespace {

// A segment on its way through the pool: its input, read by the producer
// or lent where it lies in memory, and its stream and frame, made by a
// worker. Its buffers serve segment after segment.
struct SegmentJob {
    SegmentBuffer input;
    std::span<const std::uint8_t> lent;  // the input in the source's memory, when not empty
    SegmentBuffer stream;
    SegmentFrame frame;

    std::span<const std::uint8_t> inputBytes() const noexcept {
        return lent.empty() ? input.bytes() : lent;
    }
};

void encodeSegment(std::uint8_t variant, unsigned threads, SegmentJob& job) {
    const std::span<const std::uint8_t> input = job.inputBytes();
    job.stream.reserve(largestStreamSize(input.size()));
    job.stream.resize(encodeStreamInto(variant, input, job.stream.room(), threads));
    job.frame.storedSize = static_cast<std::uint32_t>(job.stream.size());
    job.frame.decodedSize = static_cast<std::uint32_t>(input.size());
    job.frame.checksum = contentChecksum(input);
    job.frame.storedCheck = frameCheck(job.stream.bytes());
}

class MemberWriter {
public:
    MemberWriter(ByteSink& sink, const ProgressFunction& progress)
        : sink_(sink), progress_(progress) {}

    void put(std::span<const std::uint8_t> bytes) {
        sink_.write(bytes);
        stats_.bytesOut += bytes.size();
    }

    // The member's content checksum is taken here, in input order, on the
    // producer's thread while the workers code, rather than before a
    // segment is handed to them.
    void putSegment(const SegmentJob& segment) {
        content_.update(segment.inputBytes());
        put(encodeSegmentFrame(segment.frame));
        put(segment.stream.bytes());
        stats_.bytesIn += segment.frame.decodedSize;
        ++stats_.segments;
        if (progress_ && !progress_(stats_)) {
            throw ContainerError(TAVRINE_ABORTED, stats_.bytesIn, "stopped by the progress callback");
        }
    }

    const TransferStats& stats() const noexcept { return stats_; }
    std::uint64_t contentChecksum() const noexcept { return content_.digest(); }

private:
    ByteSink& sink_;
    const ProgressFunction& progress_;
    TransferStats stats_;
    StreamingChecksum content_;  // of the segments written
};

// Cuts the input into segments, each read into a job of the pool, or lent
// to it when the source holds the input in memory: such an input is neither
// copied nor held twice, and its end is known without reading ahead.
class SegmentReader {
public:
    SegmentReader(ByteSource& source, std::uint32_t segmentSize)
        : source_(source), segmentSize_(segmentSize), inMemory_(source.takeRest()) {
        ended_ = inMemory_ && inMemory_->empty();
    }

    // Prepares a job holding the next segment; false, with nothing prepared,
    // once the input has ended.
    bool readInto(OrderedPool<SegmentJob>& pool) {
        if (ended_) return false;
        SegmentJob& job = pool.prepare();
        if (inMemory_) {
            lendInto(job);
        } else {
            copyInto(job);
            if (job.input.size() == 0) {
                pool.unprepare();
                return false;
            }
        }
        if (++segments_ > std::numeric_limits<std::uint32_t>::max()) {
            throw ContainerError(TAVRINE_TOO_LARGE, (segments_ - 1) * segmentSize_,
                                 "the input has too many segments for one file");
        }
        return true;
    }

    // Whether input follows the segments read so far, which may read its
    // first byte ahead: ended() is then exact.
    bool continues() {
        if (!ended_ && !peeked_ && !inMemory_) {
            peeked_ = readUpTo(source_, std::span(&peekedByte_, 1)) == 1;
            ended_ = !peeked_;
        }
        return !ended_;
    }

    bool ended() const noexcept { return ended_; }
    std::uint64_t segments() const noexcept { return segments_; }

private:
    // The next segment of a non-empty rest in memory.
    void lendInto(SegmentJob& job) {
        std::span<const std::uint8_t>& rest = *inMemory_;
        job.lent = rest.first(std::min<std::size_t>(segmentSize_, rest.size()));
        rest = rest.subspan(job.lent.size());
        ended_ = rest.empty();
    }

    // Reads the next segment into the job's buffer; the input has ended when
    // it is short.
    void copyInto(SegmentJob& job) {
        job.lent = {};
        job.input.reserve(segmentSize_);
        const std::span<std::uint8_t> room = job.input.room().first(segmentSize_);
        std::size_t taken = 0;
        if (peeked_) {
            room[0] = peekedByte_;
            peeked_ = false;
            taken = 1;
        }
        taken += readUpTo(source_, room.subspan(taken));
        job.input.resize(taken);
        ended_ = taken < segmentSize_;
    }

    ByteSource& source_;
    const std::uint32_t segmentSize_;
    std::optional<std::span<const std::uint8_t>> inMemory_;  // the rest, when it is in memory
    std::uint64_t segments_ = 0;
    bool ended_ = false;
    bool peeked_ = false;  // peekedByte_ is the next segment's first byte
    std::uint8_t peekedByte_ = 0;
};

// Worker threads for the i-th of `segments` segments when there are fewer
// segments than threads: the threads are shared out among them.
unsigned threadsWithin(unsigned threads, std::uint64_t segments, std::uint64_t i) noexcept {
    const auto count = static_cast<unsigned>(segments);
    return threads / count + (i < threads % count ? 1 : 0);
}

}  // namespace

TransferStats compressToTvr(ByteSource& source, ByteSink& sink, const CompressSettings& settings,
                            const ProgressFunction& progress) {
    MemberWriter writer(sink, progress);
    writer.put(encodeHeader(FileHeader{settings.variant, settings.segmentSize}));

    SegmentReader reader(source, settings.segmentSize);
    OrderedPool<SegmentJob> pool(settings.threads);
    const auto submit = [&pool, variant = settings.variant](unsigned threads) {
        pool.submit([variant, threads](SegmentJob& job) { encodeSegment(variant, threads, job); });
    };
    // An input of fewer segments than threads has its segments' blocks
    // sorted on the threads that would otherwise have nothing to do, so the
    // first segments wait until it is known whether there are that many:
    // one segment fewer than threads and a byte ahead tell. With two
    // threads the first segment starts as soon as it is read.
    const unsigned threads = std::max(settings.threads, 1u);
    while (reader.readInto(pool) && reader.segments() + 1 < threads) {
    }
    if (threads > 1 && reader.segments() + 1 == threads && reader.continues()) {
        pool.startThreadsEarly();
    }
    const std::uint64_t first = reader.segments();
    for (std::uint64_t i = 0; i < first; ++i) {
        submit(reader.ended() && first < threads ? threadsWithin(threads, first, i) : 1);
    }
    while (!reader.ended()) {
        if (pool.full()) writer.putSegment(pool.takeNext());
        if (!reader.readInto(pool)) break;
        submit(1);
        while (pool.nextReady()) writer.putSegment(pool.takeNext());
    }
    while (!pool.idle()) writer.putSegment(pool.takeNext());

    EndFrame end;
    end.segmentCount = static_cast<std::uint32_t>(reader.segments());
    end.decodedSize = writer.stats().bytesIn;
    end.checksum = writer.contentChecksum();
    writer.put(encodeEndFrame(end));
    TransferStats stats = writer.stats();
    stats.members = 1;
    return stats;
}

struct TvrMemberWriter::State {
    State(ByteSink& sink, const CompressSettings& given, ProgressFunction progressFunction)
        : settings(given), progress(std::move(progressFunction)), writer(sink, progress),
          pool(given.threads) {}

    // The job that gathers the next segment's input, prepared when the first
    // byte of it comes; coded segments are written first when the pool is full.
    // A segment that has one behind it is not alone: the threads start.
    SegmentJob& gatheringJob() {
        if (gathering == nullptr) {
            if (segmentCount > 0) pool.startThreadsEarly();
            if (pool.full()) writer.putSegment(pool.takeNext());
            gathering = &pool.prepare();
            gathering->lent = {};
            gathering->input.reserve(settings.segmentSize);
            gathering->input.resize(0);
        }
        return *gathering;
    }

    // The segment being gathered is complete, or the input ended: it goes to
    // the pool, and every segment coded meanwhile is written.
    void submitGathered() {
        if (++segmentCount > std::numeric_limits<std::uint32_t>::max()) {
            throw ContainerError(TAVRINE_TOO_LARGE, (segmentCount - 1) * settings.segmentSize,
                                 "the input has too many segments for one file");
        }
        gathering = nullptr;
        pool.submit([variant = settings.variant](SegmentJob& job) { encodeSegment(variant, 1, job); });
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
    SegmentJob* gathering = nullptr;  // prepared in the pool, below segmentSize bytes
    std::uint64_t segmentCount = 0;
    bool started = false;
    bool closed = false;
    OrderedPool<SegmentJob> pool;  // last: its threads stop before the rest goes
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
        SegmentBuffer& input = state.gatheringJob().input;
        const std::size_t taken = std::min(segmentSize - input.size(), bytes.size());
        std::copy_n(bytes.begin(), taken, input.room().begin() + static_cast<std::ptrdiff_t>(input.size()));
        input.resize(input.size() + taken);
        bytes = bytes.subspan(taken);
        if (input.size() == segmentSize) state.submitGathered();
    }
}

void TvrMemberWriter::close() {
    State& state = *state_;
    if (state.closed) return;
    state.startMember();
    if (state.gathering != nullptr) state.submitGathered();
    while (!state.pool.idle()) state.writer.putSegment(state.pool.takeNext());
    EndFrame end;
    end.segmentCount = static_cast<std::uint32_t>(state.segmentCount);
    end.decodedSize = state.writer.stats().bytesIn;
    end.checksum = state.writer.contentChecksum();
    state.writer.put(encodeEndFrame(end));
    state.closed = true;
}

TransferStats TvrMemberWriter::stats() const noexcept {
    TransferStats stats = state_->writer.stats();
    stats.members = state_->closed ? 1 : 0;
    return stats;
}

}  // namespace tavrine::container
