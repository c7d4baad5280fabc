// The range encoder of a block whose payload is kept only when it is shorter
// than a limit (the block's record, which is stored instead otherwise). Its
// payloads are RangeEncoder's byte for byte (range_encoder.h), and it gives
// up as soon as the payload can no longer be shorter: the payload's length
// is one byte per shift plus five, and shifts are never undone.
//
// Every byte is stored as it leaves the window, and a carry is added at once
// into the bytes already stored (turning 0xFF bytes into 0x00 until it stops
// at a byte below 0xFF: a carry never reaches the carry byte 0x00 in front).
// RangeEncoder holds bytes back until no carry can reach them; storing at
// once needs no held byte, count of 0xFF bytes or capacity test, only room,
// which the limit bounds.
#pragma once

#include <cstdint>

#include "entropy/coder_constants.h"
#include "entropy/frequency_model.h"
#include "entropy/symbol_counter.h"
#include "platform/compiler.h"

namespace tavrine {

class LimitedRangeEncoder {
public:
    // Starts a block written to out, which holds `limit` >= 1 bytes.
    LimitedRangeEncoder(FrequencyModel* model, std::uint8_t* out, std::uint32_t limit) noexcept
        : counter_(model, nullptr),
          out_(out),
          next_(out + 1),
          tooLongFrom_(out + (limit > kBytesAfterShifts ? limit - kBytesAfterShifts : 0)),
          limit_(limit) {
        out_[0] = 0;  // the carry byte
    }

    // The payload would be `limit` bytes or longer whatever follows: encode
    // and finish must not be called any more.
    bool cannotBeShorter() const noexcept { return next_ >= tooLongFrom_; }

    // Codes one byte symbol and counts it in the model. Call only while not
    // cannotBeShorter(): the two bytes that normalisation stores then lie
    // below the limit. Always inlined: Clang otherwise calls it out of the
    // encoding loop, once per byte.
    TAVRINE_ALWAYS_INLINE void encode(std::uint32_t symbol) noexcept {
        const std::uint16_t* cumFreq = counter_.cumFreq();
        const std::uint32_t base = cumFreq[symbol];
        const std::uint32_t frequency = cumFreq[symbol + 1] - base;  // never the last symbol
        normalize();
        const std::uint32_t unit = range_ >> coding::kScaleBits;
        addToLow(unit * base);
        range_ = unit * frequency;
        counter_.count(symbol);
    }

    // Codes the end-of-block symbol and flushes. Returns the payload length
    // L, with the payload in out[0 .. L-1], when L < limit; otherwise returns
    // `limit`, and out's first limit bytes are unspecified. The model has
    // been counted for every byte symbol either way. Call only while not
    // cannotBeShorter().
    std::uint32_t finish() noexcept {
        const std::uint32_t base = counter_.endOfBlockBase();
        normalize();
        const std::uint32_t unit = range_ >> coding::kScaleBits;
        addToLow(unit * base);
        range_ -= unit * base;  // the last symbol also takes the remainder
        counter_.store();
        // Up to two more shifts: the stores stay below the limit.
        normalize();
        const auto length = static_cast<std::uint32_t>(next_ - out_) + kBytesAfterShifts;
        if (length >= limit_) return limit_;
        flush(length);
        return length;
    }

    // Hands the model's counters back when giving up.
    void abandon() noexcept { counter_.store(); }

private:
    // The payload's bytes besides the carry byte and the shifts': the flush
    // byte and the three length bytes.
    static constexpr std::uint32_t kBytesAfterShifts = coding::kFlushBytes - 1;

    // At most two shifts are due (see RangeEncoder::normalize); both
    // candidate bytes are stored, and the shifts run without a branch on the
    // range. The second byte is bits 15..22 of low, which the first shift
    // moves to 23..30. Two comparisons count the shifts, and one shift of
    // low and of the range by 0, 8 or 16 bits does them: fewer instructions
    // than a conditional move of each candidate, in a loop that is short of
    // registers.
    void normalize() noexcept {
        constexpr std::uint32_t kWindow = coding::kCarryBit - 1;
        const std::uint32_t low = low_;
        const std::uint32_t range = range_;
        next_[0] = static_cast<std::uint8_t>(low >> coding::kLeavingShift);
        next_[1] = static_cast<std::uint8_t>(low >> (coding::kLeavingShift - 8));
        const std::uint32_t shifts = std::uint32_t{range < coding::kOnceBelow} +
                                     std::uint32_t{range < coding::kTwiceBelow};
        const std::uint32_t shiftBits = shifts * 8;
        low_ = (low << shiftBits) & kWindow;
        range_ = range << shiftBits;
        next_ += shifts;
    }

    // A carry out of bit 31 goes into the stored bytes at once; low + range
    // never exceeds 2^32, so the next addition finds bit 31 clear.
    void addToLow(std::uint32_t amount) noexcept {
        low_ += amount;
        addCarry(low_ >> 31);
        low_ &= coding::kCarryBit - 1;
    }

    // Adds carry (0 or 1) to the last stored byte, without a branch: carries
    // come at random, often enough to cost more mispredicted than added. A
    // carry out of that byte, which needs it to be 0xFF, runs on through the
    // 0xFF bytes before it and stops at a byte below 0xFF.
    void addCarry(std::uint32_t carry) noexcept {
        const std::uint32_t last = next_[-1] + carry;
        next_[-1] = static_cast<std::uint8_t>(last);
        if (last > 0xFF) [[unlikely]] {
            std::uint8_t* at = next_ - 2;
            while (*at == 0xFF) *at-- = 0x00;
            ++*at;
        }
    }

    // The flush byte keeps the value the decoder ends with, whose last 23 bits
    // come from the length field behind it, inside the interval (see
    // RangeEncoder::flush); it may carry into the stored bytes.
    void flush(std::uint32_t length) noexcept {
        std::uint32_t last = low_ >> coding::kLeavingShift;
        if ((low_ & coding::kWindowRest) >= ((length >> 1) & coding::kWindowRest)) ++last;
        addCarry(last >> 8);
        next_[0] = static_cast<std::uint8_t>(last);
        next_[1] = static_cast<std::uint8_t>(length >> 16);
        next_[2] = static_cast<std::uint8_t>(length >> 8);
        next_[3] = static_cast<std::uint8_t>(length);
    }

    SymbolCounter counter_;
    std::uint8_t* out_;
    std::uint8_t* next_;  // where the next shift's byte goes
    const std::uint8_t* tooLongFrom_;  // next_ here or beyond: the payload reaches the limit
    std::uint32_t limit_;
    std::uint32_t low_ = 0;
    std::uint32_t range_ = coding::kRangeStart;
};

}  // namespace tavrine
