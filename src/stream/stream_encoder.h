// The encoder for input that arrives in pieces: it gathers source bytes into
// blocks of 8192 and codes each one with the encode loop's own block step as
// soon as it is complete, so that the stream equals the one-shot encoder's
// for the same whole input, however input and output are cut. It holds at
// most one block of input and one of output; a block is coded straight from
// the caller's input and into the caller's output whenever they hold a whole
// one, so that nothing is copied then.
//
// With threads (setThreads), the blocks are sorted on threads - 1 workers,
// several at once, while the caller's thread codes the sorted records in
// block order and sorts blocks itself whenever it would otherwise wait: the
// stream stays the same bytes, since only the coding steps chain state from
// block to block. Each block is then copied into a job of a ring of
// 2 x threads + 2 jobs, which bounds the memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/heap.h"
#include "stream/codec_context.h"

namespace tavrine {

// A window onto the caller's bytes: [data + pos, data + size) is still to be
// read (input) or free (output).
struct InputWindow {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
    std::size_t left() const noexcept { return size - pos; }
};

struct OutputWindow {
    std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
    std::size_t left() const noexcept { return size - pos; }
};

enum class Directive : std::uint8_t { proceed, flush, end };

class StreamEncoder {
public:
    // Obtains the buffers and starts the stream; throws std::bad_alloc.
    explicit StreamEncoder(std::uint32_t variant);
    ~StreamEncoder();
    StreamEncoder(const StreamEncoder&) = delete;
    StreamEncoder& operator=(const StreamEncoder&) = delete;

    // Source bytes, taken and in sight, from which workers start: a shorter
    // stream codes in a few milliseconds, about what a new thread can take to
    // first run on a processor that was idle, and would only lose by them.
    static constexpr std::uint64_t kThreadsWorthFrom = std::uint64_t{512} << 10;

    // From now on blocks are sorted on `threads` threads, the caller's and
    // threads - 1 workers (2 or more; 0 or 1: the caller's alone), started
    // once more than a block of input is in sight and the input taken and in
    // sight reaches kThreadsWorthFrom; if they cannot start, the caller's
    // thread sorts. Precondition: no input taken yet.
    void setThreads(unsigned threads);

    // Replaces kThreadsWorthFrom, so that tests can run the workers on short
    // streams. Precondition: no input taken yet.
    void startThreadsFrom(std::uint64_t sourceBytes) noexcept { threadsFrom_ = sourceBytes; }

    // Whether input has been taken: the thread count is then fixed.
    bool started() const noexcept { return started_; }

    // Takes input and writes stream bytes as far as the windows allow.
    // Returns 0 once the directive is complete, otherwise the stream bytes
    // held back for out (at least 1 while an end is not yet complete). With
    // workers, blocks given with Directive::proceed may still be in sorting
    // when it returns; flush and end wait for them.
    // Throws std::bad_alloc; the encoder is then unusable.
    std::size_t encode(OutputWindow& out, InputWindow& in, Directive directive);

    // The stream is complete: no more input may come.
    bool ended() const noexcept { return ended_; }

private:
    class Workers;

    bool workersWorthStarting(const InputWindow& in) const noexcept;
    // Starts the workers and hands them the block begun; throws std::bad_alloc.
    void startWorkers();
    std::size_t encodeHere(OutputWindow& out, InputWindow& in, Directive directive);
    std::size_t encodeOnWorkers(OutputWindow& out, InputWindow& in, Directive directive);

    // Codes `len` bytes as the next block, into out when a largest block fits
    // there and nothing is held back, else into the held output.
    void codeBlock(const std::uint8_t* src, std::uint32_t len, OutputWindow& out);
    // The same for a block whose record the workers sorted.
    void codeSortedBlock(std::uint32_t len, std::uint8_t* record, OutputWindow& out);
    // Codes the oldest block given to the workers, waiting for its sort.
    void codeOldestSorted(OutputWindow& out);
    void deliver(OutputWindow& out) noexcept;
    std::size_t held() const noexcept { return heldEnd_ - heldStart_; }

    std::uint32_t variant_;
    CodecContext context_;
    platform::HeapArray<std::uint8_t> input_;   // one block of source bytes
    platform::HeapArray<std::uint8_t> output_;  // one block of stream bytes
    platform::HeapArray<std::uint8_t> record_;
    std::uint32_t gathered_ = 0;  // source bytes in input_
    std::uint64_t taken_ = 0;     // source bytes taken from the caller, gathered_ included
    std::uint64_t threadsFrom_ = kThreadsWorthFrom;
    std::uint32_t heldStart_ = 0;
    std::uint32_t heldEnd_ = 0;
    bool ended_ = false;
    bool started_ = false;
    unsigned threads_ = 0;              // asked for; 0: none
    std::unique_ptr<Workers> workers_;  // null: blocks are sorted on the caller's thread
};

}  // namespace tavrine
