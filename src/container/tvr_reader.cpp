#include "container/tvr_reader.h"

#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "container/checksum.h"
#include "container/ordered_pool.h"
#include "container/segment_buffer.h"
#include "container/segment_codec.h"
#include "stream/stream_format.h"

namespace tavrine::container {
namespace {

ContainerError corrupted(std::uint64_t offset, const std::string& what) {
    return ContainerError(TAVRINE_CORRUPT, offset, what);
}

std::string segmentName(std::uint64_t number) { return "segment " + std::to_string(number); }

// The largest stream the encoder writes for `decodedSize` bytes.
std::uint32_t largestStream(std::uint8_t variant, std::uint32_t decodedSize) noexcept {
    std::uint32_t bound = 0;
    ZOLT_GetMaximumEncodedLength(kStreamType, variant, decodedSize, &bound);
    return bound;
}

// Reads members frame by frame. Segments are numbered from 1 across the whole
// input, as a user counts them. An input in memory lends its stored streams
// in place instead of having them copied.
class FrameParser {
public:
    enum class Frame { segment, end };

    explicit FrameParser(ByteSource& source)
        : inMemory_(source.takeRest()),
          memory_(inMemory_.value_or(std::span<const std::uint8_t>{})),
          input_(inMemory_ ? memory_ : source) {}

    // Reads the next member's header; false when the input ends cleanly
    // after a member.
    bool nextMember() {
        std::array<std::uint8_t, kHeaderSize> bytes{};
        const std::size_t got = readUpTo(input_, bytes);
        if (got == 0 && members_ > 0) return false;
        const std::uint64_t start = consumed() - got;
        if (got == 0) throw ContainerError(TAVRINE_UNKNOWN_FORMAT, 0, "not a tavrine file (it is empty)");
        if (!startsLikeMagic(std::span(bytes.data(), got))) {
            if (members_ == 0) throw ContainerError(TAVRINE_UNKNOWN_FORMAT, 0, "not a tavrine file");
            throw corrupted(start, "unknown data after the end frame, at byte " + std::to_string(start));
        }
        if (got < bytes.size()) throw truncated();
        try {
            header_ = decodeHeader(bytes);
        } catch (const ContainerError& error) {
            throw ContainerError(error.status(), start, error.what());
        }
        ++members_;
        return true;
    }

    Frame nextFrame() {
        frameStart_ = consumed();
        std::array<std::uint8_t, kEndFrameSize> bytes{};
        readExactly(std::span(bytes.data(), kFrameKindSize));
        if (bytes[0] == kSegmentFrameKind) {
            readExactly(std::span(bytes.data() + kFrameKindSize, kSegmentFrameSize - kFrameKindSize));
            ++segmentNumber_;
            const auto frame = decodeSegmentFrame(std::span<const std::uint8_t, kSegmentFrameSize>(
                bytes.data(), kSegmentFrameSize));
            if (!frame) throw corrupted(frameStart_, "damaged frame of " + segmentName(segmentNumber_));
            checkSizes(*frame);
            segment_ = *frame;
            return Frame::segment;
        }
        if (bytes[0] == kEndFrameKind) {
            readExactly(std::span(bytes.data() + kFrameKindSize, kEndFrameSize - kFrameKindSize));
            const auto frame = decodeEndFrame(bytes);
            if (!frame) throw corrupted(frameStart_, "damaged end frame");
            end_ = *frame;
            return Frame::end;
        }
        throw corrupted(frameStart_, "damaged frame at byte " + std::to_string(frameStart_));
    }

    const FileHeader& header() const noexcept { return header_; }
    const SegmentFrame& segment() const noexcept { return segment_; }
    const EndFrame& end() const noexcept { return end_; }
    // Whether takeStream() lends the streams where they lie: the input is in memory.
    bool lendsStreams() const noexcept { return inMemory_.has_value(); }
    // The stored stream of the segment frame just read: where it lies in an
    // input in memory, otherwise read into `buffer`.
    std::span<const std::uint8_t> takeStream(SegmentBuffer& buffer) {
        const std::uint32_t size = segment_.storedSize;
        if (lendsStreams()) {
            const std::span<const std::uint8_t> stream = memory_.lend(size);
            lent_ += stream.size();
            if (stream.size() != size) throw truncated();
            return stream;
        }
        buffer.reserve(size);
        buffer.resize(size);
        readExactly(buffer.bytes());
        return buffer.bytes();
    }
    std::uint64_t segmentNumber() const noexcept { return segmentNumber_; }
    std::uint64_t frameStart() const noexcept { return frameStart_; }
    std::uint64_t consumed() const noexcept { return input_.consumed() + lent_; }
    std::uint64_t members() const noexcept { return members_; }

private:
    ContainerError truncated() const {
        return ContainerError(TAVRINE_TRUNCATED, consumed(),
                              "truncated after " + std::to_string(consumed()) + " bytes");
    }

    void readExactly(std::span<std::uint8_t> into) {
        if (readUpTo(input_, into) != into.size()) throw truncated();
    }

    void checkSizes(const SegmentFrame& frame) const {
        if (frame.decodedSize == 0 || frame.decodedSize > header_.segmentSize) {
            throw corrupted(frameStart_, segmentName(segmentNumber_) + " announces " +
                                             std::to_string(frame.decodedSize) +
                                             " bytes, which its segment size does not allow");
        }
        if (frame.storedSize == 0 ||
            frame.storedSize > largestStream(header_.variant, frame.decodedSize)) {
            throw corrupted(frameStart_, segmentName(segmentNumber_) + " has an impossible stored size (" +
                                             std::to_string(frame.storedSize) + " bytes)");
        }
    }

    std::optional<std::span<const std::uint8_t>> inMemory_;
    MemorySource memory_;   // the input when it is in memory
    CountingSource input_;  // what the frames are read from
    std::uint64_t lent_ = 0;  // stream bytes lent, which input_ did not count
    FileHeader header_;
    SegmentFrame segment_;
    EndFrame end_;
    std::uint64_t frameStart_ = 0;
    std::uint64_t segmentNumber_ = 0;
    std::uint64_t members_ = 0;
};

// Where a segment stands in the input, for messages and fault offsets.
struct SegmentPlace {
    std::uint64_t number = 0;
    std::uint64_t frameStart = 0;
};

// A segment on its way through the pool: its frame and stored stream, read
// by the producer, and its decoded bytes, written by a worker. Its buffers
// serve segment after segment.
struct SegmentJob {
    SegmentFrame frame;
    SegmentPlace place;
    SegmentBuffer stream;
    std::span<const std::uint8_t> stored;  // in `stream`, or where it lies in the input's memory
    SegmentBuffer decoded;

    std::size_t heldBytes() const noexcept { return stream.capacity() + decoded.capacity(); }
    void release() noexcept {
        stream.release();
        decoded.release();
    }
};

// What a segment's buffers hold: its stored stream and its decoded bytes.
std::uint64_t memoryOf(const SegmentFrame& frame) noexcept {
    return std::uint64_t{frame.storedSize} + frame.decodedSize;
}

void decodeSegment(SegmentJob& job, unsigned threads) {
    const std::string name = segmentName(job.place.number);
    const std::span<const std::uint8_t> stream = job.stored;
    if (frameCheck(stream) != job.frame.storedCheck) {
        throw corrupted(job.place.frameStart, "checksum mismatch in " + name);
    }
    // The block headers must announce the frame's size before the decoded
    // bytes' memory is touched for a stream that may be tiny.
    const auto announced = announcedLength(stream);
    if (!announced || *announced != job.frame.decodedSize) {
        throw corrupted(job.place.frameStart, name + " does not decode");
    }
    job.decoded.resize(job.frame.decodedSize);
    if (!decodeStream(stream, job.decoded.bytes(), threads)) {
        throw corrupted(job.place.frameStart, name + " does not decode");
    }
    if (contentChecksum(job.decoded.bytes()) != job.frame.checksum) {
        throw corrupted(job.place.frameStart, "checksum mismatch in " + name);
    }
}

// Prepares a job for the segment frame that `parser` has just parsed and
// reads the segment's stream into it, or lends it, adding what its buffers
// took to `held`. A read that fails leaves no job behind.
void readSegmentInto(OrderedPool<SegmentJob>& pool, FrameParser& parser, std::uint64_t& held) {
    const SegmentFrame& frame = parser.segment();
    SegmentJob& job = pool.prepare();
    held += job.decoded.reserve(frame.decodedSize);
    if (!parser.lendsStreams()) held += job.stream.reserve(frame.storedSize);
    job.frame = frame;
    job.place = SegmentPlace{parser.segmentNumber(), parser.frameStart()};
    try {
        job.stored = parser.takeStream(job.stream);
    } catch (...) {
        pool.unprepare();
        throw;
    }
}

// What the end frame must agree with.
struct MemberTally {
    std::uint64_t segments = 0;
    std::uint64_t decodedSize = 0;
};

void checkEndCounts(const EndFrame& end, const MemberTally& tally, std::uint64_t endStart) {
    if (end.segmentCount != tally.segments) {
        throw corrupted(endStart, "the end frame counts " + std::to_string(end.segmentCount) +
                                      " segments, but " + std::to_string(tally.segments) +
                                      " came before it");
    }
    if (end.decodedSize != tally.decodedSize) {
        throw corrupted(endStart, "size mismatch: the end frame says " +
                                      std::to_string(end.decodedSize) +
                                      " bytes, the segments hold " +
                                      std::to_string(tally.decodedSize));
    }
}

// The end frame just read against the member before it: its counts and its
// content checksum.
void checkMemberEnd(const FrameParser& parser, const MemberTally& tally,
                    const StreamingChecksum& content) {
    checkEndCounts(parser.end(), tally, parser.frameStart());
    if (parser.end().checksum != content.digest()) {
        throw corrupted(parser.frameStart(), "content checksum mismatch");
    }
}

// Decodes members segment by segment on the pool's threads. The stream and
// decoded bytes of the segments read and not yet written out (with the spare
// buffers of earlier ones) stay within the memory limit: when the next
// segment would pass it, spare buffers are given back and finished segments
// written out before it is read. At the start of each member one segment
// fewer than threads is read before the first is decoded, and the frame of
// the next, which tells whether there are as many segments as threads; when
// the member has fewer, or the limit lets fewer be held at once, each
// segment's inverse sorts run on its share of the threads.
class Decompressor {
public:
    Decompressor(ByteSource& source, ByteSink& sink, const DecompressSettings& settings,
                 const ProgressFunction& progress)
        : parser_(source),
          sink_(sink),
          progress_(progress),
          threads_(std::max(settings.threads, 1u)),
          memoryLimit_(settings.memoryLimit == 0 ? UINT64_MAX : settings.memoryLimit),
          pool_(settings.threads) {}

    TransferStats run() {
        while (parser_.nextMember()) decodeMember();
        stats_.members = parser_.members();
        stats_.bytesIn = parser_.consumed();
        return stats_;
    }

private:
    void decodeMember() {
        tally_ = MemberTally{};
        content_.emplace();
        readingAhead_ = threads_ > 1;
        for (;;) {
            FrameParser::Frame frame{};
            try {
                frame = parser_.nextFrame();
                if (frame == FrameParser::Frame::segment) checkMemoryNeeded();
            } catch (...) {
                // Segments before the damage come out first, and an earlier
                // failure among them is the one to report.
                drain();
                throw;
            }
            if (frame == FrameParser::Frame::end) break;
            takeSegment();
        }
        drain();
        checkMemberEnd(parser_, tally_, *content_);
    }

    void checkMemoryNeeded() const {
        const std::uint64_t needed = memoryOf(parser_.segment());
        if (needed <= memoryLimit_) return;
        throw ContainerError(TAVRINE_MEMORY_LIMIT, parser_.frameStart(),
                             segmentName(parser_.segmentNumber()) + " needs " + std::to_string(needed) +
                                 " bytes of memory, more than the limit of " +
                                 std::to_string(memoryLimit_) + " bytes");
    }

    // Reads the segment whose frame was just parsed into a job and submits
    // it, or holds it back while reading ahead.
    void takeSegment() {
        const SegmentFrame& frame = parser_.segment();
        const std::uint64_t needed = memoryOf(frame);
        if (readingAhead_) {
            if (!makeRoom(needed, false)) {
                submitReadAhead(false);
            } else if (readAhead_ + 1 == threads_) {
                submitReadAhead(false, true);  // this segment makes as many as threads
            }
        }
        if (!readingAhead_) makeRoom(needed, true);
        if (pool_.full()) emit(pool_.takeNext());

        try {
            readSegmentInto(pool_, parser_, held_);
        } catch (...) {
            drain();
            throw;
        }
        if (readingAhead_) {
            ++readAhead_;
            return;
        }
        submit(threadsWithin_);
        while (pool_.nextReady()) emit(pool_.takeNext());
    }

    // Brings the memory held down to what leaves room for `needed` more
    // bytes: spare buffers first, then (when it may wait) segments written
    // out in turn. False when that takes waiting and it may not.
    bool makeRoom(std::uint64_t needed, bool mayWait) {
        while (held_ + needed > memoryLimit_) {
            if (releaseSpareBuffers()) continue;
            if (!mayWait || pool_.idle()) return false;
            emit(pool_.takeNext());
        }
        return true;
    }

    bool releaseSpareBuffers() {
        const std::uint64_t before = held_;
        pool_.forEachSpareJob([this](SegmentJob& job) {
            held_ -= job.heldBytes();
            job.release();
        });
        return held_ != before;
    }

    // Ends the reading ahead: the segments read so far are submitted. When
    // fewer than threads are held at once (the member had no more, or the
    // memory limit allowed no more), the threads are shared out among them,
    // and among the member's later segments likewise. `asManyAsThreads`: the
    // frame of the segment that makes as many has been read, so the segments
    // held start at once, one thread each.
    void submitReadAhead(bool memberEnded, bool asManyAsThreads = false) {
        if (!readingAhead_) return;
        readingAhead_ = false;
        const unsigned segments = std::exchange(readAhead_, 0u);
        if (asManyAsThreads) pool_.startThreadsEarly();
        const bool fewer = !asManyAsThreads && segments != 0 && segments < threads_;
        if (fewer && !memberEnded) threadsWithin_ = threads_ / segments;
        for (unsigned i = 0; i < segments; ++i) {
            submit(fewer ? threads_ / segments + (i < threads_ % segments ? 1 : 0) : 1);
        }
    }

    void submit(unsigned threads) {
        pool_.submit([threads](SegmentJob& job) { decodeSegment(job, threads); });
    }

    // Every segment read goes out, or the first failure among them.
    void drain() {
        submitReadAhead(true);
        threadsWithin_ = 1;
        while (!pool_.idle()) emit(pool_.takeNext());
    }

    void emit(const SegmentJob& job) {
        const std::span<const std::uint8_t> decoded = job.decoded.bytes();
        sink_.write(decoded);
        content_->update(decoded);
        ++tally_.segments;
        tally_.decodedSize += decoded.size();
        ++stats_.segments;
        stats_.bytesOut += decoded.size();
        stats_.bytesIn = parser_.consumed();
        if (progress_ && !progress_(stats_)) {
            throw ContainerError(TAVRINE_ABORTED, stats_.bytesIn, "stopped by the progress callback");
        }
    }

    FrameParser parser_;
    ByteSink& sink_;
    const ProgressFunction& progress_;
    const unsigned threads_;
    const std::uint64_t memoryLimit_;
    TransferStats stats_;
    MemberTally tally_;
    std::optional<StreamingChecksum> content_;  // of the member being decoded
    std::uint64_t held_ = 0;      // bytes in the buffers of every job the pool holds
    bool readingAhead_ = false;   // segments are read but not yet submitted
    unsigned readAhead_ = 0;      // the segments read ahead
    unsigned threadsWithin_ = 1;  // for each segment after the reading ahead
    OrderedPool<SegmentJob> pool_;  // last: its threads stop before the rest goes
};

}  // namespace

TransferStats decompressTvr(ByteSource& source, ByteSink& sink, const DecompressSettings& settings,
                            const ProgressFunction& progress) {
    Decompressor decompressor(source, sink, settings, progress);
    TransferStats stats = decompressor.run();
    return stats;
}

TvrListing listTvr(ByteSource& source) {
    FrameParser parser(source);
    TvrListing listing;
    SegmentBuffer buffer;  // one segment's stream at a time
    while (parser.nextMember()) {
        if (listing.members++ == 0) {
            listing.variant = parser.header().variant;
            listing.segmentSize = parser.header().segmentSize;
        }
        MemberTally tally;
        while (parser.nextFrame() == FrameParser::Frame::segment) {
            const std::span<const std::uint8_t> stream = parser.takeStream(buffer);
            const auto blocks = countBlocks(stream);
            const auto length = announcedLength(stream);
            if (!blocks || !length || *length != parser.segment().decodedSize) {
                throw corrupted(parser.frameStart(), "the stream of " +
                                                         segmentName(parser.segmentNumber()) +
                                                         " is damaged");
            }
            listing.codedBlocks += blocks->coded;
            listing.uncodedBlocks += blocks->uncoded;
            ++tally.segments;
            tally.decodedSize += parser.segment().decodedSize;
        }
        checkEndCounts(parser.end(), tally, parser.frameStart());
        listing.segments += tally.segments;
        listing.decodedSize += tally.decodedSize;
        listing.checksum = parser.end().checksum;
    }
    listing.compressedSize = parser.consumed();
    return listing;
}

struct TvrSegmentReader::State {
    enum class Place { beforeMember, inMember, afterEndFrame, finished };

    State(ByteSource& source, const DecompressSettings& settings)
        : parser(source),
          memoryLimit(settings.memoryLimit == 0 ? UINT64_MAX : settings.memoryLimit),
          pool(settings.threads) {}

    // Reads frames while the pool and the memory limit have room, so that up
    // to the pool's limit of segments decode while the caller works. Damage
    // to the framing is kept until the segments before it are out.
    void readAhead() {
        while (place == Place::inMember && !framingFailure) {
            try {
                if (!framePending) {
                    if (pool.full()) return;
                    if (parser.nextFrame() == FrameParser::Frame::end) {
                        place = Place::afterEndFrame;
                        return;
                    }
                    checkMemoryNeeded();
                    framePending = true;
                }
                if (!makeRoom(memoryOf(parser.segment())) || pool.full()) return;
                framePending = false;
                submitSegment();
            } catch (...) {
                framingFailure = std::current_exception();
                return;
            }
        }
    }

    void checkMemoryNeeded() const {
        const std::uint64_t needed = memoryOf(parser.segment());
        if (needed <= memoryLimit) return;
        throw ContainerError(TAVRINE_MEMORY_LIMIT, parser.frameStart(),
                             segmentName(parser.segmentNumber()) + " needs " + std::to_string(needed) +
                                 " bytes of memory, more than the limit of " + std::to_string(memoryLimit) +
                                 " bytes");
    }

    // Room for `needed` more bytes of buffers, spare buffers given back
    // first; false while segments in flight hold the rest (they go out to
    // the caller first). A lone segment always fits: checkMemoryNeeded().
    bool makeRoom(std::uint64_t needed) {
        while (held + needed > memoryLimit) {
            const std::uint64_t before = held;
            pool.forEachSpareJob([this](SegmentJob& job) {
                held -= job.heldBytes();
                job.release();
            });
            if (held == before) return pool.idle();
        }
        return true;
    }

    // Reads the stream of the segment frame just parsed into a job and
    // submits it; a read that fails leaves no job behind.
    void submitSegment() {
        readSegmentInto(pool, parser, held);
        pool.submit([](SegmentJob& submitted) { decodeSegment(submitted, 1); });
    }

    std::span<const std::uint8_t> deliver(const SegmentJob& job) {
        const std::span<const std::uint8_t> decoded = job.decoded.bytes();
        content->update(decoded);
        ++tally.segments;
        tally.decodedSize += decoded.size();
        ++stats.segments;
        stats.bytesOut += decoded.size();
        return decoded;
    }

    // Moves past an end frame or a member header; false once the input ended.
    bool advance() {
        switch (place) {
            case Place::afterEndFrame:
                checkMemberEnd(parser, tally, *content);
                ++stats.members;
                place = Place::beforeMember;
                return true;
            case Place::beforeMember:
                if (!parser.nextMember()) {
                    place = Place::finished;
                    return false;
                }
                tally = MemberTally{};
                content.emplace();
                place = Place::inMember;
                return true;
            case Place::inMember:  // readAhead() left it only for a segment or a failure
            case Place::finished: break;
        }
        return false;
    }

    FrameParser parser;
    const std::uint64_t memoryLimit;
    TransferStats stats;
    MemberTally tally;
    std::optional<StreamingChecksum> content;  // of the member being read
    Place place = Place::beforeMember;
    bool framePending = false;  // a segment frame is parsed, its stream not yet read
    std::uint64_t held = 0;     // bytes in the buffers of every job the pool holds
    std::exception_ptr framingFailure;
    OrderedPool<SegmentJob> pool;  // last: its threads stop before the rest goes
};

TvrSegmentReader::TvrSegmentReader(ByteSource& source, const DecompressSettings& settings)
    : state_(std::make_unique<State>(source, settings)) {}

TvrSegmentReader::~TvrSegmentReader() = default;

std::span<const std::uint8_t> TvrSegmentReader::next() {
    State& state = *state_;
    for (;;) {
        state.readAhead();
        if (!state.pool.idle()) return state.deliver(state.pool.takeNext());
        if (state.framingFailure) std::rethrow_exception(state.framingFailure);
        if (!state.advance()) return {};
    }
}

TransferStats TvrSegmentReader::stats() const noexcept {
    TransferStats stats = state_->stats;
    stats.bytesIn = state_->parser.consumed();
    return stats;
}

}  // namespace tavrine::container
