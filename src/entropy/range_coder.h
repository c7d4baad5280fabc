// Adaptive range coder: turns a block's move-to-front record into a short
// payload and back, with the frequency model it owns.
//
// Payload of one block: a 0x00 carry byte, one byte per normalisation shift of
// the encoder, the flush byte, and the payload's own length L as 24 bits, most
// significant byte first (at least 6 bytes in all). The coder works only on
// caller-provided buffers: it never writes past the output capacity and never
// reads past the input length, whatever the input bytes are. The model carries
// its state from block to block until initModel() is called.
//
// RangeCoder owns the model, the decoder's value-to-symbol table and the state
// between blocks; the per-symbol steps are RangeEncoder (range_encoder.h),
// LimitedRangeEncoder (limited_range_encoder.h) and RangeDecoder
// (range_decoder.h), which it hands out for one block at a time.
#pragma once

#include <cstdint>

#include "entropy/byte_symbol_index.h"
#include "entropy/frequency_model.h"
#include "entropy/limited_range_encoder.h"
#include "entropy/range_decoder.h"
#include "entropy/range_encoder.h"

namespace tavrine {

class RangeCoder {
public:
    // Zeroes every field and the model, then initialises the model; throws
    // std::bad_alloc when the model's arrays cannot be obtained.
    RangeCoder();
    ~RangeCoder();
    RangeCoder(const RangeCoder&) = delete;
    RangeCoder& operator=(const RangeCoder&) = delete;
    RangeCoder(RangeCoder&&) = delete;
    RangeCoder& operator=(RangeCoder&&) = delete;

    // Returns the model to its starting state, the state modelInit gives;
    // arrays the model holds are kept. Throws std::bad_alloc, leaving the
    // model released, when it holds none and they cannot be obtained.
    void initModel();

    // Releases the model's arrays; harmless when they are already released.
    void releaseModel() noexcept;

    // Full length L of the payload of the last block encoded, counting any
    // bytes dropped at the output capacity.
    std::uint32_t codedLength() const noexcept { return encoder_.emitted; }

    // Input bytes the last block decoded read; a well-formed payload is read up
    // to its last byte and no further.
    std::uint32_t bytesRead() const noexcept { return decoder_.inPos; }

    // The model as modelUpdate would have left it: its lookup table, which
    // encoding and the indexed decoding leave behind, is brought up to date.
    const FrequencyModel& model() noexcept {
        modelRefreshLookup(&model_);
        return model_;
    }

    // The model holds its arrays, which initModel() ensures: the block steps
    // below need it.
    bool modelReady() const noexcept;

    // For loops that code a block symbol by symbol (the record coding, which
    // runs move-to-front in the same pass). beginEncode starts a block
    // written to out, at most outCap bytes; endEncode codes the end-of-block
    // symbol, flushes and sets count to the bytes written. beginDecode primes
    // a block from its inLen payload bytes; endDecode runs the end step and
    // keeps the state. They are inline so that the coding state stays in the
    // caller's registers.

    RangeEncoder beginEncode(std::uint8_t* out, std::uint32_t outCap) noexcept {
        modelFresh_ = false;
        indexCurrent_ = false;  // encoding moves the model on without the decoder's table
        return RangeEncoder(&model_, out, outCap);
    }

    // beginLimitedEncode starts a block whose payload is kept only when
    // shorter than `limit` bytes, written to out, which holds limit bytes.
    LimitedRangeEncoder beginLimitedEncode(std::uint8_t* out, std::uint32_t limit) noexcept {
        modelFresh_ = false;
        indexCurrent_ = false;
        return LimitedRangeEncoder(&model_, out, limit);
    }

    void endEncode(RangeEncoder& encoder, std::uint32_t& count) noexcept {
        encoder.finish();
        encoder_ = encoder.state();
        count = encoder_.outPos;
    }

    RangeDecoder beginDecode(const std::uint8_t* in, std::uint32_t inLen) noexcept {
        modelFresh_ = false;
        if (!ByteSymbolIndex::worthKeeping(model_)) {
            modelRefreshLookup(&model_);  // stale after encoding with this model
        } else if (!indexCurrent_) {
            rebuildIndex();
        }
        return RangeDecoder(&model_, &index_, in, inLen, decoder_);
    }

    void endDecode(RangeDecoder& decoder) noexcept {
        decoder.finish();
        decoder_ = decoder.state();
        indexCurrent_ = ByteSymbolIndex::worthKeeping(model_);
    }

    // Leaves a block being decoded without its end step.
    void abandonDecode(RangeDecoder& decoder) noexcept {
        decoder.abandon();
        decoder_ = decoder.state();
        indexCurrent_ = ByteSymbolIndex::worthKeeping(model_);
    }

private:
    void rebuildIndex() noexcept;

    // The last block's coding state, kept for codedLength() and bytesRead(),
    // and because a payload too short to prime the decoder leaves it be.
    EncoderState encoder_{};
    DecoderState decoder_{};
    // The decoder's value-to-symbol table; encoding, restarts and the short
    // periods, which decode without it, leave it behind the model.
    ByteSymbolIndex index_;
    bool indexCurrent_ = false;
    // The model is in its starting state: initialised and not coded with since.
    bool modelFresh_ = false;
    FrequencyModel model_{};
};

}  // namespace tavrine
