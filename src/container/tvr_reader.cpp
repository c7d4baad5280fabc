#include "container/tvr_reader.h"

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "container/checksum.h"
#include "container/ordered_pool.h"
#include "container/segment_codec.h"
#include "stream/stream_format.h"

namespace tavrine::container {
namespace {

// Stored streams are read in pieces, so that a frame announcing a large
// segment costs memory only as its bytes actually arrive.
constexpr std::size_t kReadPiece = 1u << 20;

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
// input, as a user counts them.
class FrameParser {
public:
    enum class Frame { segment, end };

    explicit FrameParser(ByteSource& source) : input_(source) {}

    // Reads the next member's header; false when the input ends cleanly
    // after a member.
    bool nextMember() {
        std::array<std::uint8_t, kHeaderSize> bytes{};
        const std::size_t got = readUpTo(input_, bytes);
        if (got == 0 && members_ > 0) return false;
        const std::uint64_t start = input_.consumed() - got;
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
        frameStart_ = input_.consumed();
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
            readStream(frame->storedSize);
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
    std::vector<std::uint8_t> takeStream() noexcept { return std::move(stream_); }
    std::uint64_t segmentNumber() const noexcept { return segmentNumber_; }
    std::uint64_t frameStart() const noexcept { return frameStart_; }
    std::uint64_t consumed() const noexcept { return input_.consumed(); }
    std::uint64_t members() const noexcept { return members_; }

private:
    ContainerError truncated() const {
        return ContainerError(TAVRINE_TRUNCATED, input_.consumed(),
                              "truncated after " + std::to_string(input_.consumed()) + " bytes");
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

    void readStream(std::uint32_t size) {
        stream_.clear();
        while (stream_.size() < size) {
            const std::size_t start = stream_.size();
            const std::size_t piece = std::min<std::size_t>(size - start, kReadPiece);
            stream_.resize(start + piece);
            readExactly(std::span(stream_.data() + start, piece));
        }
    }

    CountingSource input_;
    FileHeader header_;
    SegmentFrame segment_;
    EndFrame end_;
    std::vector<std::uint8_t> stream_;
    std::uint64_t frameStart_ = 0;
    std::uint64_t segmentNumber_ = 0;
    std::uint64_t members_ = 0;
};

// Where a segment stands in the input, for messages and fault offsets.
struct SegmentPlace {
    std::uint64_t number = 0;
    std::uint64_t frameStart = 0;
};

std::vector<std::uint8_t> decodeSegment(const std::vector<std::uint8_t>& stream,
                                        const SegmentFrame& frame, SegmentPlace place) {
    const std::string name = segmentName(place.number);
    if (frameCheck(stream) != frame.storedCheck) {
        throw corrupted(place.frameStart, "checksum mismatch in " + name);
    }
    // The block headers must announce the frame's size before that much
    // memory is spent on a stream that may be tiny.
    const auto announced = announcedLength(stream);
    if (!announced || *announced != frame.decodedSize) {
        throw corrupted(place.frameStart, name + " does not decode");
    }
    std::vector<std::uint8_t> decoded(frame.decodedSize);
    if (!decodeStream(stream, decoded)) throw corrupted(place.frameStart, name + " does not decode");
    if (contentChecksum(decoded) != frame.checksum) {
        throw corrupted(place.frameStart, "checksum mismatch in " + name);
    }
    return decoded;
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

class Decompressor {
public:
    Decompressor(ByteSource& source, ByteSink& sink, const DecompressSettings& settings,
                 const ProgressFunction& progress)
        : parser_(source), sink_(sink), progress_(progress), pool_(settings.threads) {}

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
        for (;;) {
            FrameParser::Frame frame{};
            try {
                frame = parser_.nextFrame();
            } catch (...) {
                // Segments before the damage come out first, and an earlier
                // failure among them is the one to report.
                drain();
                throw;
            }
            if (frame == FrameParser::Frame::end) break;
            submitSegment();
        }
        drain();
        checkMemberEnd(parser_, tally_, *content_);
    }

    void submitSegment() {
        if (pool_.full()) emit(pool_.takeNext());
        pool_.submit([stream = parser_.takeStream(), frame = parser_.segment(),
                      place = SegmentPlace{parser_.segmentNumber(), parser_.frameStart()}] {
            return decodeSegment(stream, frame, place);
        });
        while (pool_.nextReady()) emit(pool_.takeNext());
    }

    void drain() {
        while (!pool_.idle()) emit(pool_.takeNext());
    }

    void emit(const std::vector<std::uint8_t>& decoded) {
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
    TransferStats stats_;
    MemberTally tally_;
    std::optional<StreamingChecksum> content_;  // of the member being decoded
    OrderedPool<std::vector<std::uint8_t>> pool_;  // last: its threads stop before the rest goes
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
    while (parser.nextMember()) {
        if (listing.members++ == 0) {
            listing.variant = parser.header().variant;
            listing.segmentSize = parser.header().segmentSize;
        }
        MemberTally tally;
        while (parser.nextFrame() == FrameParser::Frame::segment) {
            const std::vector<std::uint8_t> stream = parser.takeStream();
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
        : parser(source), pool(settings.threads) {}

    // Reads frames while the pool has room, so that up to its limit of
    // segments decode while the caller works. Damage to the framing is kept
    // until the segments before it are out.
    void readAhead() {
        while (place == Place::inMember && !framingFailure && !pool.full()) {
            try {
                if (parser.nextFrame() == FrameParser::Frame::end) {
                    place = Place::afterEndFrame;
                    return;
                }
            } catch (...) {
                framingFailure = std::current_exception();
                return;
            }
            pool.submit([stream = parser.takeStream(), frame = parser.segment(),
                         segmentPlace = SegmentPlace{parser.segmentNumber(), parser.frameStart()}] {
                return decodeSegment(stream, frame, segmentPlace);
            });
        }
    }

    std::vector<std::uint8_t> deliver(std::vector<std::uint8_t> decoded) {
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
    TransferStats stats;
    MemberTally tally;
    std::optional<StreamingChecksum> content;  // of the member being read
    Place place = Place::beforeMember;
    std::exception_ptr framingFailure;
    OrderedPool<std::vector<std::uint8_t>> pool;  // last: its threads stop before the rest goes
};

TvrSegmentReader::TvrSegmentReader(ByteSource& source, const DecompressSettings& settings)
    : state_(std::make_unique<State>(source, settings)) {}

TvrSegmentReader::~TvrSegmentReader() = default;

std::vector<std::uint8_t> TvrSegmentReader::next() {
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
