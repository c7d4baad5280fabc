#include "stream/stream_decoder.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "stream/block_workers.h"
#include "stream/stream_format.h"
#include "transform/block_sort.h"

namespace tavrine {

namespace {

// A block on its way through the workers: the move-to-front positions the
// caller decoded, restored to the record in place, the bytes the inverse sort
// writes, and how many of them are out.
struct InverseJob {
    platform::HeapArray<std::uint8_t> record{kDecodeRecordCapacity};
    platform::HeapArray<std::uint8_t> output{kMaxDecodedBlock};
    // Where the inverse sort writes: `output`, or, for a direct job, the
    // caller's window at the place where the block's bytes go out.
    std::uint8_t* target = nullptr;
    bool direct = false;
    std::uint32_t length = 0;
    std::uint32_t delivered = 0;
    std::uint64_t sequence = 0;  // the block's place among those given to the workers
    std::uint64_t offset = 0;    // the block's stream offset
    BlockVerdict verdict = BlockVerdict::decoded;
    class MoveToFrontTurns* turns = nullptr;
};

// Move-to-front chains its table from block to block, so the blocks take
// turns at it in the order they were given, whichever thread runs them; the
// inverse sorts after it run side by side. A block's turn comes once the
// block before it has had its own, and steps start in that order, so a
// thread waits here only for a step already running: it watches for the
// turn before it sleeps. Where the caller has little to decode (uncoded
// blocks), the turns are the chain that sets the pace, and a wake-up per
// turn made two threads slower than one.
class MoveToFrontTurns {
public:
    explicit MoveToFrontTurns(const MoveToFrontTable& start) noexcept : table_(start) {}

    BlockVerdict restoreInTurn(InverseJob& job) {
        waitForTurn(job.sequence);
        // Only the block whose turn it is touches the table.
        const BlockVerdict verdict = restoreFromPositions(table_, job.record.data(), job.length);
        {
            const std::lock_guard lock(mutex_);
            next_.store(job.sequence + 1, std::memory_order_relaxed);
        }
        turnPassed_.notify_all();
        return verdict;
    }

private:
    // Returns with the table's last change visible: the wait ends under the
    // mutex that the turn before released.
    void waitForTurn(std::uint64_t sequence) {
        watching::WatchDeadline deadline;
        for (std::uint64_t seen = next_.load(std::memory_order_relaxed); seen != sequence;
             seen = next_.load(std::memory_order_relaxed)) {
            if (!watching::watchForChange(next_, seen, deadline.until())) break;
        }
        std::unique_lock lock(mutex_);
        turnPassed_.wait(lock, [this, sequence] {
            return next_.load(std::memory_order_relaxed) == sequence;
        });
    }

    MoveToFrontTable table_;
    // Written under mutex_, read without it by threads watching for their turn.
    std::atomic<std::uint64_t> next_{0};
    std::mutex mutex_;
    std::condition_variable turnPassed_;
};

// A thread's table for the inverse sort; it grows with the largest block.
struct InverseTable {
    platform::HeapArray<std::uint16_t> entries;
};

void restoreAndInverseSort(InverseTable& table, InverseJob& job) {
    job.verdict = job.turns->restoreInTurn(job);
    if (job.verdict != BlockVerdict::decoded) return;
    const std::uint32_t needed = inverseSortTableEntries(job.length);
    if (table.entries.size() < needed) {
        table.entries.reset();
        table.entries = platform::HeapArray<std::uint16_t>(needed);
    }
    InverseBlockSort(job.target, job.record.data(), job.length + kRecordOverhead,
                     table.entries.data());
}

// The caller range decodes a block in about the time another thread undoes
// move-to-front and inverse sorts two: two jobs per thread keep them busy.
constexpr std::size_t kJobsPerThread = 2;
constexpr std::size_t kSpareJobs = 2;

// Held by the Workers ahead of their threads, which a running step may still
// use while the threads are being joined.
struct MoveToFrontTurnsHolder {
    explicit MoveToFrontTurnsHolder(const MoveToFrontTable& start) noexcept : turns(start) {}
    MoveToFrontTurns turns;
};

}  // namespace

class StreamDecoder::Workers : private MoveToFrontTurnsHolder,
                               public BlockWorkers<InverseJob, InverseTable> {
public:
    Workers(unsigned threads, const MoveToFrontTable& start)
        : MoveToFrontTurnsHolder(start),
          BlockWorkers(threads - 1, kJobsPerThread * threads + kSpareJobs,
                       &restoreAndInverseSort) {}

    MoveToFrontTurns* moveToFrontTurns() noexcept { return &turns; }
};

StreamDecoder::StreamDecoder() : record_(kDecodeRecordCapacity) { context_.startStream(); }

// Obtained only when a block first arrives in pieces, or finds no room in the
// caller's output: a short stream handed over whole then stays within the
// allocator's reach without returning pages to the system after every call.
std::uint8_t* StreamDecoder::gatheringBuffer() {
    if (block_.size() == 0) block_ = platform::HeapArray<std::uint8_t>(kMaxBlockField);
    return block_.data();
}

std::uint8_t* StreamDecoder::holdingBuffer() {
    if (output_.size() == 0) output_ = platform::HeapArray<std::uint8_t>(kMaxDecodedBlock);
    return output_.data();
}

StreamDecoder::~StreamDecoder() = default;

void StreamDecoder::setThreads(unsigned threads) {
    workers_.reset();
    threads_ = threads >= 2 ? threads : 0;
}

// Threads pay only where there is more than one block (more than a largest
// block in sight, or a block decoded already), and only on a stream long
// enough to make up for their start. The switch waits for the caller's
// thread to hold no decoded bytes.
bool StreamDecoder::workersWorthStarting(const InputWindow& in) const noexcept {
    if (threads_ == 0 || workers_ || held() != 0 || failure_ != CallStatus::ok) return false;
    if (blockOffset_ + gathered_ + in.left() < threadsFrom_) return false;
    return gathered_ + in.left() > kMaxEncodedBlock || (blockOffset_ != 0 && in.left() != 0);
}

void StreamDecoder::startWorkers() {
    try {
        workers_ = std::make_unique<Workers>(threads_, context_.moveToFront());
    } catch (const std::system_error&) {
        threads_ = 0;  // the same bytes, inverse sorted on the caller's thread
    }
}

void StreamDecoder::deliver(OutputWindow& out) noexcept {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(held(), out.left()));
    if (n == 0) return;
    std::memcpy(out.data + out.pos, output_.data() + heldStart_, n);
    out.pos += n;
    heldStart_ += n;
}

bool StreamDecoder::decodeBlock(BlockHeader header, const std::uint8_t* payload,
                                OutputWindow& out, bool overlap, PendingBlock& pending) {
    const std::uint32_t len = header.decodedLength;
    const bool direct = held() == 0 && out.left() >= len;
    if (!direct) pending.finish();
    std::uint8_t* target = direct ? out.data + out.pos : holdingBuffer();
    // An overrun is refused here as well: the one-shot decoder, too, fails
    // the call at that block, though it keeps the blocks before it.
    std::uint8_t* record = record_.data();
    BlockVerdict verdict = BlockVerdict::decoded;
    if (!direct) {
        verdict = context_.decodeNextBlock(header, payload, target, record);
    } else if (overlap) {
        verdict = context_.decodeNextBlockOverlapped(header, payload, target, record, pending);
    } else {
        verdict = context_.decodeNextBlockWalkedNow(header, payload, target, record, pending);
    }
    if (verdict != BlockVerdict::decoded) return false;
    if (direct) {
        out.pos += len;
    } else {
        heldStart_ = 0;
        heldEnd_ = len;
    }
    blockOffset_ += header.size;
    return true;
}

bool StreamDecoder::anotherBlockFollows(const InputWindow& in,
                                        BlockHeader header) const noexcept {
    // A block gathered into block_ has left the input already.
    const std::size_t skipped = gathered_ == 0 ? header.size : 0;
    const std::size_t behind = in.left() - skipped;
    if (behind < kBlockHeaderSize) return false;
    return readBlockHeader(in.data + in.pos + skipped).size <= behind;
}

StreamDecoder::Arrival StreamDecoder::nextBlock(InputWindow& in, BlockHeader& header,
                                                const std::uint8_t*& payload) {
    for (;;) {
        if (gathered_ == 0 && in.left() >= kBlockHeaderSize) {
            header = readBlockHeader(in.data + in.pos);
            if (!headerIsPlausible(header)) return Arrival::corrupt;
            if (in.left() >= header.size) {
                payload = in.data + in.pos + kBlockHeaderSize;
                return Arrival::complete;
            }
        }
        if (in.left() == 0) return Arrival::incomplete;
        // Gathering: the header first, checked once it is in, then the payload.
        const std::uint32_t wanted =
            gathered_ < kBlockHeaderSize ? kBlockHeaderSize : readBlockHeader(block_.data()).size;
        const auto taken =
            static_cast<std::uint32_t>(std::min<std::size_t>(wanted - gathered_, in.left()));
        std::memcpy(gatheringBuffer() + gathered_, in.data + in.pos, taken);
        in.pos += taken;
        gathered_ += taken;
        if (gathered_ != wanted) return Arrival::incomplete;
        header = readBlockHeader(block_.data());
        if (!headerIsPlausible(header)) return Arrival::corrupt;
        if (gathered_ < header.size) continue;
        payload = block_.data() + kBlockHeaderSize;
        return Arrival::complete;
    }
}

void StreamDecoder::consumeBlock(InputWindow& in, BlockHeader header) noexcept {
    // A block found whole in the input was not gathered.
    if (gathered_ == 0) {
        in.pos += header.size;
    } else {
        gathered_ = 0;
    }
}

CallStatus StreamDecoder::decode(OutputWindow& out, InputWindow& in, Directive directive,
                                 std::size_t& heldBack) {
    if (in.left() != 0) started_ = true;
    if (workersWorthStarting(in)) startWorkers();
    heldBack = workers_ ? static_cast<std::size_t>(workerBytes_) : held();
    if (failure_ != CallStatus::ok) return failure_;
    if (workers_) {
        decodeOnWorkers(out, in, directive, heldBack);
    } else {
        decodeHere(out, in, heldBack);
    }
    if (failure_ != CallStatus::ok) return failure_;
    // The end is judged only once every decoded byte before it is out.
    if (directive == Directive::end && in.left() == 0 && heldBack == 0 && gathered_ != 0) {
        return fail(CallStatus::truncated);
    }
    return CallStatus::ok;
}

// A block whose successor is already in the input leaves its inverse sort's
// walk to run beside that one's decoding, as the one-shot decoder does; the
// last block of a call is written at once. Held bytes only ever come from a
// block that was not left pending.
void StreamDecoder::decodeHere(OutputWindow& out, InputWindow& in, std::size_t& heldBack) {
    PendingBlock pending;
    for (;;) {
        deliver(out);
        if (held() != 0) break;
        BlockHeader header{};
        const std::uint8_t* payload = nullptr;
        const Arrival arrival = nextBlock(in, header, payload);
        if (arrival == Arrival::incomplete) break;
        if (arrival == Arrival::corrupt ||
            !decodeBlock(header, payload, out, anotherBlockFollows(in, header), pending)) {
            pending.finish();
            fail(CallStatus::corrupt);
            return;
        }
        consumeBlock(in, header);
    }
    pending.finish();
    heldBack = held();
}

// The caller's window serves a block directly when the bytes of every block
// given before it and its own fit there, and when at least as many whole
// blocks as the ring holds follow it in the input: the call then reaches its
// end only after the block is out, without waiting for it.
std::uint8_t* StreamDecoder::directTarget(const OutputWindow& out, const InputWindow& in,
                                          BlockHeader header) const noexcept {
    if (out.left() < workerBytes_ + header.decodedLength) return nullptr;
    // A block gathered into block_ has left the input already.
    std::size_t at = in.pos + (gathered_ == 0 ? header.size : 0);
    for (std::size_t k = 0; k < workers_->depth(); ++k) {
        if (in.size - at < kBlockHeaderSize) return nullptr;
        const std::uint32_t size = readBlockHeader(in.data + at).size;
        if (size < kBlockHeaderSize || in.size - at < size) return nullptr;
        at += size;
    }
    return out.data + out.pos + workerBytes_;
}

bool StreamDecoder::submitBlock(BlockHeader header, const std::uint8_t* payload,
                                std::uint8_t* direct) {
    InverseJob& job = workers_->back();
    // An overrun is refused here as well, as decodeBlock() refuses it.
    if (context_.decodeNextPositions(header, payload, job.record.data()) !=
        BlockVerdict::decoded) {
        return false;
    }
    job.direct = direct != nullptr;
    job.target = job.direct ? direct : job.output.data();
    directJobs_ += job.direct ? 1 : 0;
    job.length = header.decodedLength;
    job.delivered = 0;
    job.sequence = submitted_++;
    job.offset = blockOffset_;
    job.turns = workers_->moveToFrontTurns();
    workers_->submit();
    workerBytes_ += job.length;
    blockOffset_ += header.size;
    return true;
}

// A block that its move-to-front step found corrupt ends the stream there:
// the blocks given after it are dropped with the workers' ring.
void StreamDecoder::deliverSorted(OutputWindow& out, bool wait) {
    Workers& workers = *workers_;
    while (!workers.empty() && (wait || workers.frontReady())) {
        InverseJob& job = workers.front();
        if (job.verdict != BlockVerdict::decoded) {
            blockOffset_ = job.offset;
            workerBytes_ = 0;
            fail(CallStatus::corrupt);
            return;
        }
        const auto n = static_cast<std::uint32_t>(
            std::min<std::size_t>(job.length - job.delivered, out.left()));
        // A direct job's bytes are in place already, all of them.
        if (!job.direct) std::memcpy(out.data + out.pos, job.output.data() + job.delivered, n);
        out.pos += n;
        job.delivered += n;
        workerBytes_ -= n;
        if (job.delivered != job.length) return;  // out is full
        directJobs_ -= job.direct ? 1 : 0;
        workers.pop();
        wait = false;
    }
}

// The caller's window is the host's only during the call: no step may write
// into it afterwards, so the call returns only once the direct jobs are out,
// or, on a failure, once every step has ended.
void StreamDecoder::decodeOnWorkers(OutputWindow& out, InputWindow& in, Directive directive,
                                    std::size_t& heldBack) {
    try {
        giveBlocksToWorkers(out, in, directive);
        while (directJobs_ != 0 && failure_ == CallStatus::ok) deliverSorted(out, true);
    } catch (...) {
        workers_->finishSteps();
        throw;
    }
    if (failure_ != CallStatus::ok) {
        workers_->finishSteps();
        heldBack = 0;
        return;
    }
    const bool waitsForRoom = out.left() == 0 || directive != Directive::proceed;
    heldBack = waitsForRoom ? static_cast<std::size_t>(workerBytes_) : 0;
}

// Restored records go to the workers as long as the ring has room; their
// bytes come out in block order as their inverse sorts finish. A call waits
// for a sort only when the ring is full, when a failure waits for the blocks
// before it to be out, and, at a flush or the end, for every block given.
// With Directive::proceed it returns once the input is taken, and the bytes
// held back are those that found no room in out.
void StreamDecoder::giveBlocksToWorkers(OutputWindow& out, InputWindow& in, Directive directive) {
    Workers& workers = *workers_;
    for (;;) {
        deliverSorted(out, false);
        if (failure_ != CallStatus::ok) return;
        if (out.left() == 0 && workerBytes_ != 0) break;
        if (pending_ != CallStatus::ok || workers.full()) {
            if (workers.empty()) {
                fail(pending_);
                return;
            }
            deliverSorted(out, true);
            continue;
        }
        BlockHeader header{};
        const std::uint8_t* payload = nullptr;
        const Arrival arrival = nextBlock(in, header, payload);
        if (arrival == Arrival::complete) {
            if (submitBlock(header, payload, directTarget(out, in, header))) {
                consumeBlock(in, header);
            } else {
                pending_ = CallStatus::corrupt;
            }
            continue;
        }
        if (arrival == Arrival::corrupt) {
            pending_ = CallStatus::corrupt;
            continue;
        }
        if (directive == Directive::proceed || workers.empty()) break;
        deliverSorted(out, true);
    }
}

}  // namespace tavrine
