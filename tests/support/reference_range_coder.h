// The range coder written step by step, one symbol at a time through the
// model's own functions (modelGetFrequency, modelFindSymbol with its division,
// modelUpdate): the oracle that the production coder's inline fast paths and
// the block loops are tested against. Same interface as RangeCoder.
#pragma once

#include <cstdint>

#include "entropy/frequency_model.h"

namespace tavrine::test {

class ReferenceRangeCoder {
public:
    // Zeroes every field and the model, then initialises the model; throws
    // std::bad_alloc when the model's arrays cannot be obtained.
    ReferenceRangeCoder();
    ~ReferenceRangeCoder();
    ReferenceRangeCoder(const ReferenceRangeCoder&) = delete;
    ReferenceRangeCoder& operator=(const ReferenceRangeCoder&) = delete;
    ReferenceRangeCoder(ReferenceRangeCoder&&) = delete;
    ReferenceRangeCoder& operator=(ReferenceRangeCoder&&) = delete;

    // Returns the model to its starting state, with its arrays obtained anew.
    // Throws std::bad_alloc, leaving the model released, when they cannot be.
    void initModel();

    // Releases the model's arrays; harmless when they are already released.
    void releaseModel() noexcept;

    // Codes the inLen bytes at `in` and the end-of-block symbol into `out`,
    // updating the model for every input byte. Writes at most outCap bytes and
    // sets count to the number written; bytes past outCap are dropped, so the
    // payload is complete only when count == codedLength(). Returns false, with
    // nothing written, only when the model holds no arrays.
    bool encodeBlock(std::uint8_t* out, const std::uint8_t* in, std::uint32_t outCap,
                     std::uint32_t inLen, std::uint32_t& count) noexcept;

    // Decodes symbols from the inLen payload bytes at `in` into `out` until the
    // end-of-block symbol or the end of the input, updating the model, and sets
    // count to the bytes written. Returns false, count untouched, when a symbol
    // arrives after outCap bytes were written, or when the model holds no arrays.
    bool decodeBlock(std::uint8_t* out, const std::uint8_t* in, std::uint32_t outCap,
                     std::uint32_t inLen, std::uint32_t& count) noexcept;

    // Full length L of the payload of the last encodeBlock, counting any bytes
    // dropped at the output capacity.
    std::uint32_t codedLength() const noexcept { return emitted_; }

    // Input bytes the last decodeBlock read; a well-formed payload is read up to
    // its last byte and no further.
    std::uint32_t bytesRead() const noexcept { return inPos_; }

    const FrequencyModel& model() const noexcept { return model_; }

private:
    bool modelReady() const noexcept;

    void putByte(std::uint8_t byte) noexcept;
    void releaseHeldBytes(std::uint8_t carry) noexcept;
    void normalizeEncoder() noexcept;
    void encodeSymbol(std::int32_t symbol) noexcept;
    std::uint32_t flushEncoder() noexcept;

    bool normalizeDecoder() noexcept;
    void narrowDecoder(std::uint32_t unit, std::int32_t symbol) noexcept;

    const std::uint8_t* inBuf_ = nullptr;
    std::uint8_t* outBuf_ = nullptr;
    std::uint32_t inLen_ = 0;
    std::uint32_t outCap_ = 0;
    std::uint32_t inPos_ = 0;
    std::uint32_t outPos_ = 0;
    // Encoder: lower end of the interval in a 31-bit window, bit 31 a carry.
    // Decoder: code value minus the lower end, in the same window.
    std::uint32_t low_ = 0;
    std::uint32_t range_ = 0;
    // Encoder: 0xFF bytes held back behind held_. Decoder: the unit of the last step.
    std::uint32_t pending_ = 0;
    // Encoder: the last byte out of the window, which may still take a carry.
    // Decoder: the last input byte, whose lowest bit is not yet in low_.
    std::uint8_t held_ = 0;
    std::uint32_t emitted_ = 0;  // encoder: shifts so far; the payload length after the flush
    FrequencyModel model_{};
};

}  // namespace tavrine::test
