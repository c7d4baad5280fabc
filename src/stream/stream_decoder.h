// The decoder for a stream that arrives in pieces: it gathers each block
// until it is complete and decodes it with the decode loop's own block step,
// so that it accepts exactly the streams the one-shot decoder accepts, gives
// the same bytes and refuses the others at the same block. A header that no
// encoder writes is refused as soon as its four bytes are in. A block is
// decoded straight from the caller's input and into the caller's output
// whenever they hold all of it; otherwise it passes through buffers of one
// block each.
//
// With threads (setThreads), the caller's thread range decodes each block's
// move-to-front positions (the model chains from block to block) into a job
// of a ring of 2 x threads + 2, and threads - 1 workers undo move-to-front,
// block after block since its table chains too, and run the inverse sorts
// side by side; the caller delivers the bytes in block order and takes a
// job's step itself whenever it would otherwise wait. The coder decodes the
// next block while earlier ones are restored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/heap.h"
#include "stream/codec_context.h"
#include "stream/stream_encoder.h"

namespace tavrine {

class StreamDecoder {
public:
    // Obtains the buffers and starts the stream; throws std::bad_alloc.
    StreamDecoder();
    ~StreamDecoder();
    StreamDecoder(const StreamDecoder&) = delete;
    StreamDecoder& operator=(const StreamDecoder&) = delete;

    // Stream bytes, taken and in sight, from which workers start: a shorter
    // stream decodes in a few milliseconds, about what a new thread can take
    // to first run on a processor that was idle, and would only lose by them.
    static constexpr std::uint64_t kThreadsWorthFrom = std::uint64_t{512} << 10;

    // From now on blocks are decoded on `threads` threads, the caller's and
    // threads - 1 workers (2 or more; 0 or 1: the caller's alone), started
    // once the stream shows more than one block and its bytes taken and in
    // sight reach kThreadsWorthFrom; if they cannot start, the caller's
    // thread does it all. Precondition: no input taken yet.
    void setThreads(unsigned threads);

    // Replaces kThreadsWorthFrom, so that tests can run the workers on short
    // streams. Precondition: no input taken yet.
    void startThreadsFrom(std::uint64_t streamBytes) noexcept { threadsFrom_ = streamBytes; }

    // Whether input has been taken: the thread count is then fixed.
    bool started() const noexcept { return started_; }

    // Takes stream bytes and writes decoded bytes as far as the windows
    // allow; *held receives the decoded bytes held back for out, with workers
    // also those of blocks whose inverse sort may still run (a later call
    // waits for them). With Directive::end the input ends with this window.
    // Returns ok, corrupt or truncated; a failure stays, and is returned only
    // once the bytes of every block before the one at fault are out. Throws
    // std::bad_alloc; the decoder is then unusable.
    CallStatus decode(OutputWindow& out, InputWindow& in, Directive directive, std::size_t& held);

    // Stream offset of the block being gathered, or of the block at fault.
    std::uint64_t blockOffset() const noexcept { return blockOffset_; }

private:
    class Workers;

    bool workersWorthStarting(const InputWindow& in) const noexcept;
    // Starts the workers; throws std::bad_alloc.
    void startWorkers();
    // The loops of decode(): they set failure_ and the bytes held back.
    void decodeHere(OutputWindow& out, InputWindow& in, std::size_t& heldBack);
    void decodeOnWorkers(OutputWindow& out, InputWindow& in, Directive directive,
                         std::size_t& heldBack);
    void giveBlocksToWorkers(OutputWindow& out, InputWindow& in, Directive directive);

    enum class Arrival : std::uint8_t { incomplete, complete, corrupt };

    // Finds the next block: complete, with its header and payload, straight
    // in the input or gathered into block_; incomplete when the input ends
    // first (what there is gets gathered); corrupt for a header that no
    // encoder writes, judged as soon as its four bytes are in.
    Arrival nextBlock(InputWindow& in, BlockHeader& header, const std::uint8_t*& payload);
    // Moves past the complete block that nextBlock() found.
    void consumeBlock(InputWindow& in, BlockHeader header) noexcept;

    // Decodes a complete block into out when it fits there and nothing is
    // held back, else into the held output. False when the block is corrupt.
    // With `overlap`, a block decoded into out leaves its bytes to `pending`,
    // to be written while the next block decodes.
    bool decodeBlock(BlockHeader header, const std::uint8_t* payload, OutputWindow& out,
                     bool overlap, PendingBlock& pending);
    // Whether another whole block lies in the input behind the one that
    // nextBlock() found.
    bool anotherBlockFollows(const InputWindow& in, BlockHeader header) const noexcept;
    // Where the inverse sort may write the block that nextBlock() found
    // straight into out, or null: its bytes then wait in the job.
    std::uint8_t* directTarget(const OutputWindow& out, const InputWindow& in,
                               BlockHeader header) const noexcept;
    // Range decodes a complete block's positions into the ring's next job and
    // hands the job to the workers, to be inverse sorted into `direct` or
    // else the job's own output; false when the block is corrupt.
    bool submitBlock(BlockHeader header, const std::uint8_t* payload, std::uint8_t* direct);
    // Delivers the bytes of blocks whose inverse sort is done, in order, as
    // far as out allows, and fails at a block found corrupt; `wait`: waits
    // for the oldest one.
    void deliverSorted(OutputWindow& out, bool wait);
    void deliver(OutputWindow& out) noexcept;
    // block_ and output_, obtained on first use; throw std::bad_alloc.
    std::uint8_t* gatheringBuffer();
    std::uint8_t* holdingBuffer();
    std::size_t held() const noexcept { return heldEnd_ - heldStart_; }
    CallStatus fail(CallStatus status) noexcept { return failure_ = status; }

    CodecContext context_;
    platform::HeapArray<std::uint8_t> block_;   // the block being gathered, header included; lazy
    platform::HeapArray<std::uint8_t> output_;  // one block of decoded bytes; lazy
    platform::HeapArray<std::uint8_t> record_;
    std::uint32_t gathered_ = 0;  // bytes of the current block in block_
    std::uint32_t heldStart_ = 0;
    std::uint32_t heldEnd_ = 0;
    std::uint64_t blockOffset_ = 0;
    CallStatus failure_ = CallStatus::ok;
    CallStatus pending_ = CallStatus::ok;  // a failure found while earlier blocks are still out
    bool started_ = false;
    unsigned threads_ = 0;              // asked for; 0: none
    std::uint64_t threadsFrom_ = kThreadsWorthFrom;
    std::unique_ptr<Workers> workers_;  // null: blocks are inverse sorted on the caller's thread
    std::uint64_t workerBytes_ = 0;     // decoded bytes of the blocks the ring holds, undelivered
    std::uint64_t submitted_ = 0;       // blocks given to the workers
    std::size_t directJobs_ = 0;        // jobs in the ring that write into out
};

}  // namespace tavrine
