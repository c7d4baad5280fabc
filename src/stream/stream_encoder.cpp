#include "stream/stream_encoder.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "stream/block_workers.h"
#include "stream/stream_format.h"
#include "transform/block_sorter.h"

namespace tavrine {

namespace {

// A block on its way through the workers: its source bytes, gathered by the
// caller, and the record a worker's sorter writes.
struct SortJob {
    platform::HeapArray<std::uint8_t> block{kBlockSize};
    platform::HeapArray<std::uint8_t> record{kRecordOverhead + kBlockSize};
    std::uint32_t length = 0;
};

void sortBlock(BlockSorter& sorter, SortJob& job) {
    sorter.sort(job.record.data(), job.block.data(), job.length);
}

// Jobs per thread: one being sorted and one sorted and waiting for the coder,
// which codes a block in about the time a thread sorts one; two more let the
// caller gather the next block while every thread is busy.
constexpr std::size_t kJobsPerThread = 2;
constexpr std::size_t kSpareJobs = 2;

}  // namespace

class StreamEncoder::Workers : public BlockWorkers<SortJob, BlockSorter> {
public:
    explicit Workers(unsigned threads)
        : BlockWorkers(threads - 1, kJobsPerThread * threads + kSpareJobs, &sortBlock) {}
};

StreamEncoder::StreamEncoder(std::uint32_t variant)
    : variant_(variant),
      input_(kBlockSize),
      output_(kMaxEncodedBlock),
      record_(kRecordOverhead + kBlockSize) {
    context_.startStream();
}

StreamEncoder::~StreamEncoder() = default;

void StreamEncoder::setThreads(unsigned threads) {
    workers_.reset();
    threads_ = threads >= 2 ? threads : 0;
}

// Threads pay only where there is more than one block to sort, and only on
// a stream long enough to make up for their start.
bool StreamEncoder::workersWorthStarting(const InputWindow& in) const noexcept {
    return threads_ != 0 && !workers_ && !ended_ && gathered_ + in.left() > kBlockSize &&
           taken_ + in.left() >= threadsFrom_;
}

void StreamEncoder::startWorkers() {
    try {
        workers_ = std::make_unique<Workers>(threads_);
    } catch (const std::system_error&) {
        threads_ = 0;  // the same bytes, sorted on the caller's thread
        return;
    }
    // A block begun on the caller's thread goes on in the ring's first job.
    if (gathered_ != 0) std::memcpy(workers_->back().block.data(), input_.data(), gathered_);
}

void StreamEncoder::deliver(OutputWindow& out) noexcept {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(held(), out.left()));
    if (n == 0) return;
    std::memcpy(out.data + out.pos, output_.data() + heldStart_, n);
    out.pos += n;
    heldStart_ += n;
}

void StreamEncoder::codeBlock(const std::uint8_t* src, std::uint32_t len, OutputWindow& out) {
    context_.ForwardBlockSort(record_.data(), src, len);
    codeSortedBlock(len, record_.data(), out);
}

void StreamEncoder::codeSortedBlock(std::uint32_t len, std::uint8_t* record, OutputWindow& out) {
    // With room for a largest block the block step never runs short, and
    // its block does not depend on how much more room there is.
    if (held() == 0 && out.left() >= kMaxEncodedBlock) {
        out.pos += context_.encodeSortedBlock(variant_, len, out.data + out.pos, kMaxEncodedBlock,
                                              record);
        return;
    }
    heldStart_ = 0;
    heldEnd_ = context_.encodeSortedBlock(variant_, len, output_.data(), kMaxEncodedBlock, record);
}

void StreamEncoder::codeOldestSorted(OutputWindow& out) {
    SortJob& job = workers_->front();
    codeSortedBlock(job.length, job.record.data(), out);
    workers_->pop();
}

std::size_t StreamEncoder::encode(OutputWindow& out, InputWindow& in, Directive directive) {
    if (in.left() != 0) started_ = true;
    if (workersWorthStarting(in)) startWorkers();
    const std::size_t takenBefore = in.pos;
    const std::size_t left = workers_ ? encodeOnWorkers(out, in, directive) : encodeHere(out, in, directive);
    taken_ += in.pos - takenBefore;
    if (directive == Directive::end && !ended_) return std::max<std::size_t>(left, 1);
    return left;
}

std::size_t StreamEncoder::encodeHere(OutputWindow& out, InputWindow& in, Directive directive) {
    for (;;) {
        deliver(out);
        if (held() != 0 || ended_) break;
        if (gathered_ == 0 && in.left() >= kBlockSize) {
            codeBlock(in.data + in.pos, kBlockSize, out);
            in.pos += kBlockSize;
            continue;
        }
        const auto taken =
            static_cast<std::uint32_t>(std::min<std::size_t>(kBlockSize - gathered_, in.left()));
        if (taken != 0) std::memcpy(input_.data() + gathered_, in.data + in.pos, taken);
        in.pos += taken;
        gathered_ += taken;
        // A full block is coded at once; a partial one waits for more input
        // unless the caller closes it.
        if (gathered_ == kBlockSize || (gathered_ != 0 && directive != Directive::proceed)) {
            codeBlock(input_.data(), gathered_, out);
            gathered_ = 0;
            continue;
        }
        if (directive == Directive::end) {
            context_.endStream();
            ended_ = true;
        }
        break;
    }
    return held();
}

// Input is gathered into the ring's next free job, which goes to the
// workers once it holds a whole block (or, at a flush or the end, what there
// is). While input lasts, the oldest block is coded only when the ring is
// full, so that the workers always have blocks to sort: coding every sorted
// block first, as this once did, left them idle for several blocks' coding
// where sorts are quick (runs, short periods), long enough to fall asleep,
// and each block after that paid for waking one. Once the input is taken,
// the sorted blocks are coded, and at a flush or the end every block. The
// caller waits for a sort only when the ring is full, or when a flush or the
// end needs every block out.
std::size_t StreamEncoder::encodeOnWorkers(OutputWindow& out, InputWindow& in, Directive directive) {
    Workers& workers = *workers_;
    for (;;) {
        deliver(out);
        if (held() != 0 || ended_) break;
        const bool closing = directive != Directive::proceed && in.left() == 0 && gathered_ != 0;
        if (in.left() != 0 || closing) {
            if (workers.full()) {
                codeOldestSorted(out);
                continue;
            }
            SortJob& job = workers.back();
            const auto taken =
                static_cast<std::uint32_t>(std::min<std::size_t>(kBlockSize - gathered_, in.left()));
            if (taken != 0) std::memcpy(job.block.data() + gathered_, in.data + in.pos, taken);
            in.pos += taken;
            gathered_ += taken;
            if (gathered_ == kBlockSize || closing) {
                job.length = gathered_;
                gathered_ = 0;
                workers.submit();
            }
            continue;
        }
        // The input is taken: the blocks already sorted go out, and at a
        // flush or the end every block, each once its sort is done.
        if (!workers.empty() && (directive != Directive::proceed || workers.frontReady())) {
            codeOldestSorted(out);
            continue;
        }
        if (directive == Directive::end) {
            context_.endStream();
            ended_ = true;
        }
        break;
    }
    return held();
}

}  // namespace tavrine
