// The range encoder's per-symbol steps, inline, for the loops that code a
// whole block (the record coding, which runs move-to-front in the same pass).
// The state lives in the object, which such a loop keeps in locals and so in
// registers; RangeCoder (range_coder.h) hands it out and takes the state back
// at the end of the block. Every byte symbol is counted in the model exactly
// as modelUpdate does, and the payload is exactly the coder's, on any input.
//
// Only the codec's 257-symbol model is coded here: byte symbols 0..255 and
// the end-of-block symbol 256, the last symbol of the table.
#pragma once

#include <cstdint>

#include "entropy/coder_constants.h"
#include "entropy/frequency_model.h"
#include "entropy/symbol_counter.h"
#include "platform/branchless.h"
#include "platform/compiler.h"

namespace tavrine {

// The coding state of one block being encoded.
struct EncoderState {
    std::uint32_t low = 0;
    std::uint32_t range = coding::kRangeStart;
    std::uint32_t pending = 0;  // 0xFF bytes held back behind `held`
    std::uint32_t held = 0;     // the last byte out of the window; may still take a carry
    std::uint32_t emitted = 0;  // shifts so far; the payload length after the flush
    std::uint32_t outPos = 0;
};

class RangeEncoder {
public:
    // Starts a block: writes at most outCap bytes to out.
    RangeEncoder(FrequencyModel* model, std::uint8_t* out, std::uint32_t outCap) noexcept
        : counter_(model, nullptr), out_(out), outCap_(outCap) {}

    // Codes one byte symbol and counts it in the model. Always inlined, as
    // LimitedRangeEncoder::encode.
    TAVRINE_ALWAYS_INLINE void encode(std::uint32_t symbol) noexcept {
        const std::uint16_t* cumFreq = counter_.cumFreq();
        const std::uint32_t base = cumFreq[symbol];
        // A byte symbol is never the last of the table: its interval ends at or
        // below cumFreq[256] < 4096, so it never takes the range's remainder.
        const std::uint32_t frequency = cumFreq[symbol + 1] - base;
        normalize();
        const std::uint32_t unit = s_.range >> coding::kScaleBits;
        s_.low += unit * base;  // may carry into bit 31
        s_.range = unit * frequency;
        counter_.count(symbol);
    }

    // Codes the end-of-block symbol and flushes; returns the full payload
    // length L, of which min(L, outCap) bytes were written. The model is not
    // counted for the end-of-block symbol.
    std::uint32_t finish() noexcept {
        const std::uint32_t base = counter_.endOfBlockBase();
        normalize();
        const std::uint32_t unit = s_.range >> coding::kScaleBits;
        s_.low += unit * base;
        s_.range -= unit * base;  // the last symbol also takes the remainder
        counter_.store();
        return flush();
    }

    const EncoderState& state() const noexcept { return s_; }

private:
    // Before a symbol the range is 2^31 or at least one unit of the symbol
    // before, so at most two shifts are due. Usually no 0xFF byte is held back
    // and neither leaving byte is 0xFF or carries: then the shifts run without
    // a branch on the range. Both candidate bytes are stored at once; a byte
    // stored past the shifts is overwritten by a later one (the flush stores
    // at least five), so none stays behind the payload.
    void normalize() noexcept {
        const std::uint32_t low = s_.low;
        const std::uint32_t afterOne = (low & coding::kWindowRest) << 8;
        const bool plain = s_.pending == 0 && low < coding::kCarryFreeBound &&
                           afterOne < coding::kCarryFreeBound && outCap_ - s_.outPos >= 2;
        if (!plain) [[unlikely]] {
            while (s_.range <= coding::kRangeBottom) shiftOut();
            return;
        }
        const std::uint32_t range = s_.range;
        const std::uint32_t first = low >> coding::kLeavingShift;
        out_[s_.outPos] = static_cast<std::uint8_t>(s_.held);
        out_[s_.outPos + 1] = static_cast<std::uint8_t>(first);
        std::uint32_t shifts = 0;
        platform::assignIfBelow(range, coding::kOnceBelow, first, s_.held, afterOne, s_.low,
                                range << 8, s_.range, shifts);
        platform::assignIfBelow(range, coding::kTwiceBelow, afterOne >> coding::kLeavingShift,
                                s_.held, (afterOne & coding::kWindowRest) << 8, s_.low,
                                range << 16, s_.range, shifts);
        s_.outPos += shifts;
        s_.emitted += shifts;
    }

    void shiftOut() noexcept {
        if (s_.low < coding::kCarryFreeBound) {
            releaseHeldBytes(0);
            s_.held = (s_.low >> coding::kLeavingShift) & 0xFF;
        } else if ((s_.low & coding::kCarryBit) != 0) {
            releaseHeldBytes(1);
            s_.held = (s_.low >> coding::kLeavingShift) & 0xFF;
        } else {
            // A 0xFF byte leaves, and a later carry may still turn it into 0x00.
            ++s_.pending;
        }
        s_.range <<= 8;
        s_.low = (s_.low & coding::kWindowRest) << 8;
        ++s_.emitted;
    }

    void putByte(std::uint32_t byte) noexcept {
        if (s_.outPos < outCap_) out_[s_.outPos++] = static_cast<std::uint8_t>(byte);
    }

    // Writes the held byte with the carry applied and the 0xFF bytes held
    // behind it, which a carry turns into 0x00. A carry reaches only a held
    // byte below 0xFF, so it never overflows.
    void releaseHeldBytes(std::uint32_t carry) noexcept {
        putByte(s_.held + carry);
        const std::uint32_t follower = carry != 0 ? 0x00 : 0xFF;
        for (; s_.pending > 0; --s_.pending) putByte(follower);
    }

    // Chooses the flush byte so that the value the decoder ends with, whose
    // last 23 bits come from the length field that follows, lies inside the
    // interval.
    std::uint32_t flush() noexcept {
        normalize();
        s_.emitted += coding::kFlushBytes;
        std::uint32_t last = s_.low >> coding::kLeavingShift;
        if ((s_.low & coding::kWindowRest) >= ((s_.emitted >> 1) & coding::kWindowRest)) ++last;
        releaseHeldBytes(last > 0xFF ? 1 : 0);
        putByte(last & 0xFF);
        putByte((s_.emitted >> 16) & 0xFF);
        putByte((s_.emitted >> 8) & 0xFF);
        putByte(s_.emitted & 0xFF);
        return s_.emitted;
    }

    SymbolCounter counter_;
    std::uint8_t* out_;
    std::uint32_t outCap_;
    EncoderState s_{};
};

}  // namespace tavrine
