// The range coder's per-symbol steps, inline, for the loops that code a whole
// block: RangeCoder::encodeBlock and decodeBlock, and the block loops that run
// move-to-front inside the same pass.
//
// RangeEncoder and RangeDecoder hold the state of one block in locals, so the
// compiler keeps it in registers; RangeCoder (range_coder.h) hands them out
// and takes the state back at the end of the block. They count every coded
// byte symbol in the model exactly as modelUpdate does and produce exactly the
// payloads and symbols of the coder's definition, on any input.
//
// Only the 257-symbol model of the codec is coded here: byte symbols 0..255 and
// the end-of-block symbol 256, which is the last symbol of the table.
#pragma once

#include <array>
#include <cstdint>

#include "entropy/frequency_model.h"
#include "platform/branchless.h"

namespace tavrine {

namespace coding {

// The coder scales by a fixed 12 bits, so it needs the model's total to be 4096.
constexpr std::uint32_t kScaleBits = 12;
constexpr std::uint32_t kTotal = std::uint32_t{1} << kScaleBits;
static_assert(kTotal == static_cast<std::uint32_t>(kModelTotal));

constexpr std::uint32_t kRangeStart = 0x80000000;  // the full 31-bit window
// Both sides shift a byte while the range is at or below 2^23.
constexpr std::uint32_t kRangeBottom = 0x800000;
// A symbol leaves at least one unit (range >> 12 > 2^11) of a range above
// 2^23; from there two shifts always bring the range back above 2^23.
constexpr std::uint32_t kNarrowedRangeFloor = kRangeBottom >> kScaleBits;
// The byte leaving the encoder's window is bits 23..30 of low; bit 31 is a carry.
constexpr std::uint32_t kLeavingShift = 23;
constexpr std::uint32_t kWindowRest = 0x7FFFFF;  // what stays in the window at a shift
constexpr std::uint32_t kCarryBit = 0x80000000;
// Below this, low leaves a byte of at most 0xFE with no carry pending.
constexpr std::uint32_t kCarryFreeBound = 0xFFu << kLeavingShift;
// The decoder's window is one bit behind the byte boundaries: priming with
// byte 1's upper 7 bits on a range of 2^7 lines it up with the encoder's.
constexpr std::uint32_t kPrimedRange = 0x80;
// Besides one byte per shift: the carry byte in front, the flush byte and the
// three length bytes.
constexpr std::uint32_t kFlushBytes = 5;

}  // namespace coding

// Value-to-symbol table of the byte symbols: entry v is the symbol s with
// cumFreq[s] <= v < cumFreq[s + 1], for every v below cumFreq[256]; values from
// there on belong to the end-of-block symbol. One load in place of the bucket
// lookup and binary search of modelFindSymbol; valid until the model's next
// full rebuild.
//
// A rebuild costs about as much as searching a few hundred symbols, so the
// table is kept only while periods run at least kIndexedInterval updates; the
// shorter early periods of a model search instead.
class ByteSymbolIndex {
public:
    static constexpr std::int32_t kIndexedInterval = 576;
    static bool pays(const FrequencyModel& model) noexcept {
        return model.interval >= kIndexedInterval;
    }

    void rebuild(const FrequencyModel& model) noexcept;
    std::uint32_t symbolAt(std::uint32_t value) const noexcept { return entries_[value]; }

private:
    // The fill stores sixteen entries at a time and may run up to fifteen
    // past the last symbol's interval.
    static constexpr std::uint32_t kFillWidth = 16;
    std::array<std::uint8_t, coding::kTotal + kFillWidth> entries_;
};

// The model's period end, as modelUpdate would run it, followed by a rebuild
// of `index` (when given) if the coding table changed and the period is long
// enough for the index to pay; periods only grow, so from the first such
// rebuild on the index stays current.
void rescaleModel(FrequencyModel* model, ByteSymbolIndex* index) noexcept;

// The model's counters that change with every symbol, held in locals between
// period ends (the table pointers change only in modelInit), and the entries
// of the coding table that the decoder tests against every symbol.
class SymbolCounter {
public:
    SymbolCounter(FrequencyModel* model, ByteSymbolIndex* index) noexcept
        : model_(model), index_(index), cumFreq_(model->cumFreq), accumFreq_(model->accumFreq) {
        load();
    }

    // modelUpdate(symbol).
    void count(std::uint32_t symbol) noexcept {
        if (untilRescale_ <= 0) [[unlikely]] {
            model_->untilRescale = untilRescale_;
            rescaleModel(model_, index_);
            load();
        }
        --untilRescale_;
        accumFreq_[symbol] = static_cast<std::uint16_t>(accumFreq_[symbol] + step_);
    }

    // Hands the counters back to the model.
    void store() const noexcept { model_->untilRescale = untilRescale_; }

    const std::uint16_t* cumFreq() const noexcept { return cumFreq_; }
    // The index is given and kept current: the model's periods are long.
    bool indexed() const noexcept { return indexed_; }
    // cumFreq[1], cumFreq[2], cumFreq[3]: where symbols 0, 1 and 2 end.
    std::uint32_t top(std::uint32_t symbol) const noexcept { return tops_[symbol]; }
    // Symbol 0 takes most of the table: long runs of it are the rule.
    bool zeroDominates() const noexcept { return tops_[0] >= kDominantZeroTop; }
    std::uint32_t endOfBlockBase() const noexcept { return endOfBlockBase_; }  // cumFreq[256]

private:
    static constexpr std::uint32_t kDominantZeroTop = coding::kTotal * 3 / 4;

    void load() noexcept {
        untilRescale_ = model_->untilRescale;
        step_ = model_->step;
        for (std::uint32_t s = 0; s < tops_.size(); ++s) tops_[s] = cumFreq_[s + 1];
        endOfBlockBase_ = cumFreq_[kEndOfBlock];
        indexed_ = index_ != nullptr && ByteSymbolIndex::pays(*model_);
    }

    FrequencyModel* model_;
    ByteSymbolIndex* index_;
    const std::uint16_t* cumFreq_;
    std::uint16_t* accumFreq_;
    std::int32_t untilRescale_ = 0;
    std::int32_t step_ = 0;
    std::array<std::uint32_t, 3> tops_{};
    std::uint32_t endOfBlockBase_ = 0;
    bool indexed_ = false;
};

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

    // Codes one byte symbol and counts it in the model.
    void encode(std::uint32_t symbol) noexcept {
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
        constexpr std::uint32_t kOnceBelow = coding::kRangeBottom + 1;
        constexpr std::uint32_t kTwiceBelow = (coding::kRangeBottom >> 8) + 1;
        const std::uint32_t range = s_.range;
        const std::uint32_t first = low >> coding::kLeavingShift;
        out_[s_.outPos] = static_cast<std::uint8_t>(s_.held);
        out_[s_.outPos + 1] = static_cast<std::uint8_t>(first);
        std::uint32_t shifts = 0;
        platform::stepIfBelow(range, kOnceBelow, first, s_.held, afterOne, s_.low, range << 8,
                              s_.range, shifts);
        platform::stepIfBelow(range, kTwiceBelow, afterOne >> coding::kLeavingShift, s_.held,
                              (afterOne & coding::kWindowRest) << 8, s_.low, range << 16, s_.range,
                              shifts);
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

// Encodes a block whose payload is kept only when it is shorter than `limit`
// bytes (the block's record, which is stored instead otherwise), into a
// buffer of at least `limit` bytes. It gives up as soon as the payload can no
// longer be shorter: the payload's length is one byte per shift plus five,
// and shifts are never undone.
//
// Every byte is stored as it leaves the window, and a carry is added at once
// into the bytes already stored (turning 0xFF bytes into 0x00 until it stops
// at a byte below 0xFF: a carry never reaches the carry byte 0x00 in front).
// The bytes are those of RangeEncoder, which holds bytes back until no carry
// can reach them; storing at once needs no held byte, count of 0xFF bytes or
// capacity test, only room, which the limit bounds.
class LimitedRangeEncoder {
public:
    // Starts a block written to out, which holds `limit` >= 1 bytes.
    LimitedRangeEncoder(FrequencyModel* model, std::uint8_t* out, std::uint32_t limit) noexcept
        : counter_(model, nullptr),
          out_(out),
          next_(out + 1),
          hopelessFrom_(out + (limit > kBytesAfterShifts ? limit - kBytesAfterShifts : 0)),
          limit_(limit) {
        out_[0] = 0;  // the carry byte
    }

    // The payload would be `limit` bytes or longer whatever follows: encode
    // and finish must not be called any more.
    bool hopeless() const noexcept { return next_ >= hopelessFrom_; }

    // Codes one byte symbol and counts it in the model. Call only while not
    // hopeless(): the two bytes that normalisation stores then lie below the
    // limit.
    void encode(std::uint32_t symbol) noexcept {
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
    // hopeless().
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
    // moves to 23..30.
    void normalize() noexcept {
        constexpr std::uint32_t kOnceBelow = coding::kRangeBottom + 1;
        constexpr std::uint32_t kTwiceBelow = (coding::kRangeBottom >> 8) + 1;
        constexpr std::uint32_t kWindow = coding::kCarryBit - 1;
        const std::uint32_t low = low_;
        const std::uint32_t range = range_;
        next_[0] = static_cast<std::uint8_t>(low >> coding::kLeavingShift);
        next_[1] = static_cast<std::uint8_t>(low >> (coding::kLeavingShift - 8));
        std::uint32_t shifts = 0;
        platform::stepIfBelow(range, kOnceBelow, (low << 8) & kWindow, low_, range << 8, range_,
                              shifts);
        platform::stepIfBelow(range, kTwiceBelow, (low << 16) & kWindow, low_, range << 16,
                              range_, shifts);
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
    const std::uint8_t* hopelessFrom_;
    std::uint32_t limit_;
    std::uint32_t low_ = 0;
    std::uint32_t range_ = coding::kRangeStart;
};

// The coding state of one block being decoded.
struct DecoderState {
    std::uint32_t low = 0;  // code value minus the interval's lower end
    std::uint32_t range = 0;
    std::uint32_t unit = 0;  // the unit of the last decoding step
    std::uint32_t held = 0;  // the last input byte; its lowest bit is not yet in low
    std::uint32_t inPos = 0;
};

// One decoded symbol and what it does to the interval.
struct DecodedSymbol {
    std::uint32_t symbol;
    std::uint32_t lowCut;  // unit * cumFreq[symbol]
    std::uint32_t width;   // unit * frequency: the new range
};

class RangeDecoder {
public:
    // Primes the window from a payload of inLen bytes (byte 0 is the carry
    // byte, always 0x00, and is skipped unread). A payload of fewer than 2
    // bytes keeps low, range and held of `previous`; nothing is decoded from
    // it, so they cannot affect a result.
    RangeDecoder(FrequencyModel* model, ByteSymbolIndex* index, const std::uint8_t* in,
                 std::uint32_t inLen, const DecoderState& previous) noexcept
        : counter_(model, index), model_(model), index_(index), in_(in), inLen_(inLen),
          s_(previous) {
        s_.inPos = 0;
        if (inLen > 0) s_.inPos = 1;
        if (inLen > 1) {
            s_.held = in[1];
            s_.inPos = 2;
            s_.low = s_.held >> 1;
            s_.range = coding::kPrimedRange;
        }
    }

    // True while input is left: the decoding loop's condition.
    bool hasInput() const noexcept { return s_.inPos < inLen_; }

    // True when the next normalisation takes at most two shifts and finds
    // their bytes in the payload (see normalize); the steps may then be told
    // so and skip the tests. A byte symbol leaves a range of at least one
    // unit, 2^11 or more, so after one such step only the input is in doubt.
    bool runsFree() const noexcept {
        return inputAhead() && s_.range >= coding::kNarrowedRangeFloor;
    }
    bool inputAhead() const noexcept { return inLen_ - s_.inPos >= kWindowBytes - 1; }

    // How a step normalises: testing whether it runs free, knowing it does,
    // or not at all, right after a decodeZero that found another symbol and
    // left the state normalised (the window would be read past the input).
    enum class Normalize { test, free, done };

    // One pass of the decoding loop up to the symbol's output: normalises,
    // finds the symbol and, for a byte symbol, narrows the interval and counts
    // it. Returns the byte symbol or kEndOfBlock. Call only while hasInput(),
    // and with Normalize::free only while runsFree().
    template <Normalize kNormalize = Normalize::test>
    std::uint32_t decodeNext() noexcept {
        normalize<kNormalize>();
        const std::uint32_t unit = s_.range >> coding::kScaleBits;
        s_.unit = unit;
        // floor(low / unit) < c exactly when low < unit * c, so symbols 0, 1
        // and 2, the bulk of move-to-front output, need no division; which of
        // them it is, is picked by conditional moves, not by branches.
        const std::uint32_t top0 = unit * counter_.top(0);
        const std::uint32_t top1 = unit * counter_.top(1);
        const std::uint32_t top2 = unit * counter_.top(2);
        // The other symbols take the division; it starts now, so that it is
        // well on its way when the branch turns out to go there.
        std::uint32_t value = s_.low / unit;
        platform::computeHere(value);
        if (s_.low < top2) [[likely]] {
            // From symbol 2 down: each rung that low lies below moves the
            // interval down one symbol.
            std::uint32_t cut = top1;
            std::uint32_t width = top2 - top1;
            std::uint32_t below = 0;
            platform::stepIfBelow(s_.low, top1, top0, cut, top1 - top0, width, below);
            platform::stepIfBelow(s_.low, top0, 0, cut, top0, width, below);
            s_.low -= cut;
            s_.range = width;
            // Two rungs: the compiler cannot see through the ladder, and once
            // told, drops the caller's tests for the end-of-block symbol and
            // for positions behind the front on this path.
            if (below > 2) __builtin_unreachable();
            const std::uint32_t symbol = 2 - below;
            counter_.count(symbol);
            return symbol;
        }
        const DecodedSymbol decoded = find(unit, value);
        if (decoded.symbol != static_cast<std::uint32_t>(kEndOfBlock)) consume(decoded);
        return decoded.symbol;
    }

    // True while the model expects long runs of symbol 0, which decodeZero
    // takes faster than decodeNext.
    bool zeroDominates() const noexcept { return counter_.zeroDominates(); }

    // Decodes symbol 0, narrowing and counting, if it comes next; otherwise
    // leaves the state as decodeNext expects it (normalised, nothing decoded).
    // Call as decodeNext.
    template <Normalize kNormalize = Normalize::test>
    bool decodeZero() noexcept {
        normalize<kNormalize>();
        const std::uint32_t unit = s_.range >> coding::kScaleBits;
        s_.unit = unit;
        const std::uint32_t top0 = unit * counter_.top(0);
        if (s_.low >= top0) return false;
        s_.range = top0;
        counter_.count(0);
        return true;
    }

    // Normalises and finds the next symbol, without narrowing the interval:
    // kEndOfBlock or a byte symbol. Call only while hasInput().
    DecodedSymbol decode() noexcept {
        normalize();
        const std::uint32_t unit = s_.range >> coding::kScaleBits;
        s_.unit = unit;
        return find(unit, s_.low / unit);
    }

    // Narrows the interval to a decoded byte symbol and counts it.
    void consume(const DecodedSymbol& decoded) noexcept {
        s_.low -= decoded.lowCut;
        s_.range = decoded.width;
        counter_.count(decoded.symbol);
    }

    // The end step: narrows to the end-of-block symbol with the unit of the
    // last step and reads the rest of a well-formed payload (its flush byte
    // and length), never past inLen.
    void finish() noexcept {
        const std::uint32_t base = counter_.endOfBlockBase();
        s_.low -= s_.unit * base;
        s_.range -= s_.unit * base;
        counter_.store();
        static_cast<void>(normalizeNearEnd());
    }

    // Leaves the block without the end step: the model is brought up to date.
    void abandon() noexcept {
        counter_.store();
        syncHeld();
    }

    const DecoderState& state() const noexcept { return s_; }

private:
    template <Normalize kNormalize = Normalize::test>
    void normalize() noexcept {
        if constexpr (kNormalize == Normalize::done) return;
        if (kNormalize == Normalize::free || runsFree()) [[likely]] {
            shiftInAtMostTwice();
        } else {
            normalizeNearEnd();
        }
    }

    // The bytes from the last one read (which `held` would hold) to two past
    // the next one, big-endian: each shift appends the lowest bit of one byte
    // and the upper 7 bits of the next.
    static constexpr std::uint32_t kWindowBytes = 4;
    std::uint32_t window() const noexcept {
        const std::uint8_t* at = in_ + s_.inPos - 1;
        return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) |
               (std::uint32_t{at[2]} << 8) | at[3];
    }

    // Three bytes are left and at most two shifts are due: the shifts are
    // done without a branch on the range, and `held` is left to
    // syncHeld(), since it is always the byte before inPos here.
    void shiftInAtMostTwice() noexcept {
        constexpr std::uint32_t kOnceBelow = coding::kRangeBottom + 1;
        constexpr std::uint32_t kTwiceBelow = (coding::kRangeBottom >> 8) + 1;
        const std::uint32_t bytes = window();
        const std::uint32_t range = s_.range;
        const std::uint32_t low = s_.low;
        platform::stepIfBelow(range, kOnceBelow, (low << 8) | ((bytes >> 17) & 0xFF), s_.low,
                              range << 8, s_.range, s_.inPos);
        platform::stepIfBelow(range, kTwiceBelow, (low << 16) | ((bytes >> 9) & 0xFFFF), s_.low,
                              range << 16, s_.range, s_.inPos);
    }

    // The last byte read, once priming has read one.
    void syncHeld() noexcept {
        if (s_.inPos >= 2) s_.held = in_[s_.inPos - 1];
    }

    // The symbol whose interval holds floor(low / unit). Values of 4096 and
    // more, which a damaged payload can give, belong to the end-of-block
    // symbol like the 4095 they are clamped to.
    DecodedSymbol find(std::uint32_t unit, std::uint32_t value) const noexcept {
        if (value >= counter_.endOfBlockBase()) {
            return {static_cast<std::uint32_t>(kEndOfBlock), 0, 0};
        }
        const std::uint32_t symbol = counter_.indexed()
                                         ? index_->symbolAt(value)
                                         : static_cast<std::uint32_t>(modelFindSymbol(
                                               model_, static_cast<std::int32_t>(value)));
        const std::uint16_t* cumFreq = counter_.cumFreq();
        const std::uint32_t base = cumFreq[symbol];
        return {symbol, unit * base, unit * (cumFreq[symbol + 1] - base)};
    }

    // One byte per shift while the range is at or below 2^23. Returns false
    // when the input runs out first: low has then taken its shift and the
    // range has not, and the caller's loop ends after this symbol.
    bool normalizeNearEnd() noexcept {
        syncHeld();
        while (s_.range <= coding::kRangeBottom) {
            s_.low = (s_.low << 8) | ((s_.held << 7) & 0xFF);
            if (s_.inPos >= inLen_) return false;
            s_.held = in_[s_.inPos++];
            s_.low |= s_.held >> 1;
            s_.range <<= 8;
        }
        return true;
    }

    SymbolCounter counter_;
    const FrequencyModel* model_;
    const ByteSymbolIndex* index_;
    const std::uint8_t* in_;
    std::uint32_t inLen_;
    DecoderState s_;
};

}  // namespace tavrine
