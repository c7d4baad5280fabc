// The range decoder's per-symbol steps, inline, for the loops that decode a
// whole block (the record coding, which undoes move-to-front in the same
// pass). The state lives in the object, which such a loop keeps in locals
// and so in registers; RangeCoder (range_coder.h) hands it out and takes the
// state back at the end of the block. The symbols, the model's counts and the
// bytes read are exactly the coder's, on any input bytes.
//
// A decoding loop has this shape, and no other entry points:
//
//     while (decoder.normalize()) {            // false: no byte left, the block ends
//         if (room is gone) { decoder.endOfBlockNext() ...; }
//         if (decoder.zeroDominates() && decoder.tryDecodeZero()) { ...0...; continue; }
//         symbol = decoder.decodeSymbol();      // a byte symbol, or kEndOfBlock
//     }
//
// normalize() holds the loop's one bound check on the input, a single
// comparison: while at least three payload bytes lie ahead it shifts them in
// from a four-byte window without a test per byte, and byte by byte up to the
// payload's end after that. Every step after it works on the normalised state
// and reads nothing.
//
// Sound on any input bytes: a symbol is decoded only after priming and after
// normalize() found a byte left, so a normalisation that shifts at all takes
// at least one byte. From a range of 2^7 (priming) or of at least one unit of
// the symbol before, 2^11 or more (every frequency is at least 1), the range
// is then at least 2^15 and the unit never below 8. Values past the table are
// the end-of-block symbol's, so every lookup stays inside it. On a damaged
// payload low may wrap around, which only changes the symbols decoded.
//
// The per-symbol steps are always inlined: Clang otherwise called
// decodeSymbol out of some of the loops, once per byte.
#pragma once

#include <cstdint>

#include "entropy/byte_symbol_index.h"
#include "entropy/coder_constants.h"
#include "entropy/frequency_model.h"
#include "entropy/symbol_counter.h"
#include "platform/branchless.h"
#include "platform/byte_order.h"
#include "platform/compiler.h"

namespace tavrine {

// The coding state of one block being decoded.
struct DecoderState {
    std::uint32_t low = 0;  // code value minus the interval's lower end
    std::uint32_t range = 0;
    std::uint32_t unit = 0;  // the unit of the last decoding step
    std::uint32_t held = 0;  // the last input byte; its lowest bit is not yet in low
    // Payload bytes read. RangeDecoder keeps a pointer to the next one
    // instead, one register for the loop's input, and fills this in state().
    std::uint32_t inPos = 0;
};

class RangeDecoder {
public:
    // decodeSymbol finds the symbols below this by comparisons alone; the
    // others follow a branch that goes either way in most data.
    static constexpr std::uint32_t kComparedSymbols = 3;
    // decodeByDivision looks up only values from cumFreq[kComparedSymbols] on.
    static_assert(ByteSymbolIndex::kFirstSymbol <= kComparedSymbols);

    // Primes the window from a payload of inLen bytes (byte 0 is the carry
    // byte, always 0x00, and is skipped unread). A payload of fewer than 2
    // bytes keeps low, range and held of `previous`; nothing is decoded from
    // it, so they cannot affect a result.
    RangeDecoder(FrequencyModel* model, ByteSymbolIndex* index, const std::uint8_t* in,
                 std::uint32_t inLen, const DecoderState& previous) noexcept
        : counter_(model, index), model_(model), index_(index), in_(in), end_(in + inLen),
          windowEnd_(in), s_(previous) {
        next_ = in;
        if (inLen > 0) next_ = in + 1;
        if (inLen > 1) {
            s_.held = in[1];
            next_ = in + 2;
            s_.low = s_.held >> 1;
            s_.range = coding::kPrimedRange;
        }
    }

    // Starts the next symbol: shifts in the bytes it needs. Returns false,
    // having read nothing, when no payload byte is left, which ends the
    // block. When the payload runs out partway, low has taken its shift and
    // the range has not; that symbol is still decoded, and the next call
    // returns false.
    TAVRINE_ALWAYS_INLINE bool normalize() noexcept {
        if (next_ < windowEnd_) [[likely]] {
            shiftInFromWindow();
            return true;
        }
        if (next_ >= end_) return false;
        static_cast<void>(shiftInNearEnd());
        return true;
    }

    // True while symbol 0 is frequent enough (SymbolCounter::zeroDominates)
    // that testing for it first with tryDecodeZero pays.
    bool zeroDominates() const noexcept { return counter_.zeroDominates(); }

    // Decodes symbol 0, narrowing and counting, when it comes next; otherwise
    // returns false and leaves the state to decodeSymbol. After normalize().
    TAVRINE_ALWAYS_INLINE bool tryDecodeZero() noexcept {
        const std::uint32_t unit = startSymbol();
        const std::uint32_t top0 = unit * counter_.top(0);
        if (s_.low >= top0) return false;
        s_.range = top0;
        counter_.countZero();
        return true;
    }

    // Decodes the next symbol. A byte symbol narrows the interval and is
    // counted; kEndOfBlock is left for finish(). After normalize().
    TAVRINE_ALWAYS_INLINE std::uint32_t decodeSymbol() noexcept {
        const std::uint32_t unit = startSymbol();
        // floor(low / unit) < c exactly when low < unit * c, so symbols 0, 1
        // and 2, the bulk of move-to-front output, need no division; which of
        // them it is, is picked by conditional moves, not by branches.
        const std::uint32_t top0 = unit * counter_.top(0);
        const std::uint32_t top1 = unit * counter_.top(1);
        const std::uint32_t top2 = unit * counter_.top(2);
        // The other symbols take the division; it starts now, so that it is
        // well on its way when the branch turns out to go there.
        std::uint32_t value = s_.low / unit;
        platform::computeBeforeBranch(value);
        if (s_.low < top2) [[likely]] {
            // The interval of symbol 2, moved down to symbol 1's when low is
            // below top1, and again to symbol 0's when below top0.
            std::uint32_t cut = top1;
            std::uint32_t width = top2 - top1;
            std::uint32_t belowCount = 0;
            platform::assignIfBelow(s_.low, top1, top0, cut, top1 - top0, width, belowCount);
            platform::assignIfBelow(s_.low, top0, 0, cut, top0, width, belowCount);
            s_.low -= cut;
            s_.range = width;
            // The compiler cannot see through the conditional moves; told that
            // the symbol is 0, 1 or 2, it drops the caller's tests for the
            // end-of-block symbol and for positions behind the front here.
            if (belowCount >= kComparedSymbols) platform::unreachable();
            const std::uint32_t symbol = kComparedSymbols - 1 - belowCount;
            counter_.count(symbol);
            return symbol;
        }
        return decodeByDivision(unit, value);
    }

    // Whether the next symbol is the end-of-block symbol, without decoding
    // it: for a block whose output is full. After normalize().
    bool endOfBlockNext() noexcept {
        const std::uint32_t unit = startSymbol();
        return s_.low / unit >= counter_.endOfBlockBase();
    }

    // The end step: narrows to the end-of-block symbol with the unit of the
    // last step and reads the rest of a well-formed payload (its flush byte
    // and length), never past inLen.
    void finish() noexcept {
        const std::uint32_t base = counter_.endOfBlockBase();
        s_.low -= s_.unit * base;
        s_.range -= s_.unit * base;
        counter_.store();
        static_cast<void>(shiftInNearEnd());
    }

    // Leaves the block without the end step: the model is brought up to date.
    void abandon() noexcept {
        counter_.store();
        syncHeld();
    }

    // The state to hand back at the end of the block.
    DecoderState state() const noexcept {
        DecoderState state = s_;
        state.inPos = static_cast<std::uint32_t>(next_ - in_);
        return state;
    }

private:
    // The bytes from the last one read (which `held` would hold) to two past
    // the next one, big-endian: each shift appends the lowest bit of one byte
    // and the upper 7 bits of the next.
    static constexpr std::uint32_t kWindowBytes = 4;

    // The window path (normalize) needs the window inside the payload and at
    // most two shifts due. The second holds from the first normalisation that
    // restores the range on: a byte symbol leaves a range of at least one
    // unit, 2^11 or more, from which two shifts pass 2^23. Only priming leaves
    // less (2^7), so the window path opens when shiftInNearEnd first succeeds,
    // and one comparison of the input position then tests both.
    void openWindowPath() noexcept {
        const auto inLen = static_cast<std::uint32_t>(end_ - in_);
        windowEnd_ = inLen >= kWindowBytes - 1 ? end_ - (kWindowBytes - 2) : in_;
    }

    std::uint32_t window() const noexcept { return platform::loadBigEndian32(next_ - 1); }

    // The shifts are done without a branch on the range, and `held` is left
    // to syncHeld(), since it is always the byte before next_ here. `code` is
    // low followed by the payload's next bits (the lowest of `held`, then
    // whole bytes), so that either shift's new low is a slice of it. The
    // conditional moves keep the decoder's chain from range to the next
    // symbol short; a shift by a counted amount took fewer instructions but
    // lengthened that chain.
    void shiftInFromWindow() noexcept {
        const std::uint32_t range = s_.range;
        const std::uint64_t code = (std::uint64_t{s_.low} << 32) | (window() << 7);
        platform::assignIfBelow(range, coding::kOnceBelow, static_cast<std::uint32_t>(code >> 24),
                                s_.low, range << 8, s_.range, next_);
        platform::assignIfBelow(range, coding::kTwiceBelow, static_cast<std::uint32_t>(code >> 16),
                                s_.low, range << 16, s_.range, next_);
    }

    // One byte per shift while the range is at or below 2^23. Returns false
    // when the input runs out first: low has then taken its shift and the
    // range has not.
    bool shiftInNearEnd() noexcept {
        syncHeld();
        while (s_.range <= coding::kRangeBottom) {
            s_.low = (s_.low << 8) | ((s_.held << 7) & 0xFF);
            if (next_ >= end_) return false;
            s_.held = *next_++;
            s_.low |= s_.held >> 1;
            s_.range <<= 8;
        }
        openWindowPath();
        return true;
    }

    // The last byte read, once priming has read one.
    void syncHeld() noexcept {
        if (next_ - in_ >= 2) s_.held = next_[-1];
    }

    // The unit of the symbol being decoded, kept for finish().
    std::uint32_t startSymbol() noexcept {
        s_.unit = s_.range >> coding::kScaleBits;
        return s_.unit;
    }

    // The symbol whose interval holds value = floor(low / unit), narrowed and
    // counted when it is a byte symbol. Values of 4096 and more, which a
    // damaged payload can give, belong to the end-of-block symbol like the
    // 4095 they are clamped to. Only decodeSymbol calls it, for a low of at
    // least unit * cumFreq[kComparedSymbols], so value is at least that entry,
    // where the index begins.
    TAVRINE_ALWAYS_INLINE std::uint32_t decodeByDivision(std::uint32_t unit,
                                                         std::uint32_t value) noexcept {
        if (value >= counter_.endOfBlockBase()) return static_cast<std::uint32_t>(kEndOfBlock);
        const std::uint32_t symbol = counter_.indexed()
                                         ? index_->symbolAt(value)
                                         : static_cast<std::uint32_t>(modelFindSymbol(
                                               model_, static_cast<std::int32_t>(value)));
        const std::uint16_t* cumFreq = counter_.cumFreq();
        const std::uint32_t base = cumFreq[symbol];
        s_.low -= unit * base;
        s_.range = unit * (cumFreq[symbol + 1] - base);
        counter_.count(symbol);
        return symbol;
    }

    SymbolCounter counter_;
    const FrequencyModel* model_;
    const ByteSymbolIndex* index_;
    const std::uint8_t* in_;
    const std::uint8_t* end_;  // one past the payload's last byte
    const std::uint8_t* next_ = nullptr;  // the next byte to shift in
    // normalize takes the window path while next_ < windowEnd_: at least
    // three bytes ahead, once the window path is open (in_ until then).
    const std::uint8_t* windowEnd_;
    DecoderState s_;
};

}  // namespace tavrine
