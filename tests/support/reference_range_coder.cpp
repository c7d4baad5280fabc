#include "support/reference_range_coder.h"

#include <new>

namespace tavrine::test {

namespace {

// The coder scales by a fixed 12 bits, so it needs the model's total to be 4096.
constexpr std::uint32_t kScaleBits = 12;
constexpr std::uint32_t kTotal = std::uint32_t{1} << kScaleBits;
static_assert(kTotal == static_cast<std::uint32_t>(kModelTotal));
constexpr std::uint32_t kLargestValue = kTotal - 1;

constexpr std::uint32_t kRangeStart = 0x80000000;  // the full 31-bit window
// Both sides shift a byte out while the range is at or below 2^23.
constexpr std::uint32_t kRangeBottom = 0x800000;
// The byte leaving the window is bits 23..30 of low; bit 31 is a carry into it.
constexpr std::uint32_t kLeavingShift = 23;
constexpr std::uint32_t kWindowRest = 0x7FFFFF;  // what stays in the window at a shift
constexpr std::uint32_t kCarryBit = 0x80000000;
// Below this low leaves a byte of at most 0xFE with no carry pending.
constexpr std::uint32_t kCarryFreeBound = 0xFFu << kLeavingShift;
// The decoder's window is one bit behind the byte boundaries: priming with byte
// 1's upper 7 bits on a range of 2^7 lines it up with the encoder's 31 bits.
constexpr std::uint32_t kPrimedRange = 0x80;
// Besides one byte per shift: the carry byte in front, the flush byte and the
// three length bytes.
constexpr std::uint32_t kFlushBytes = 5;

}  // namespace

ReferenceRangeCoder::ReferenceRangeCoder() { initModel(); }

ReferenceRangeCoder::~ReferenceRangeCoder() { releaseModel(); }

void ReferenceRangeCoder::initModel() {
    if (!modelInit(&model_, kModelSymbols, kModelLog2Total, kModelTargetInterval,
                   initialFrequencies.data(), 0)) {
        throw std::bad_alloc();
    }
}

void ReferenceRangeCoder::releaseModel() noexcept { modelRelease(&model_); }

bool ReferenceRangeCoder::modelReady() const noexcept {
    return model_.cumFreq != nullptr && model_.accumFreq != nullptr &&
           model_.lookupTable != nullptr;
}

void ReferenceRangeCoder::putByte(std::uint8_t byte) noexcept {
    if (outPos_ < outCap_) outBuf_[outPos_++] = byte;
}

// Writes the held byte with the carry applied and the 0xFF bytes held behind
// it, which a carry turns into 0x00.
void ReferenceRangeCoder::releaseHeldBytes(std::uint8_t carry) noexcept {
    putByte(static_cast<std::uint8_t>(held_ + carry));
    const std::uint8_t follower = carry != 0 ? 0x00 : 0xFF;
    for (; pending_ > 0; --pending_) putByte(follower);
}

void ReferenceRangeCoder::normalizeEncoder() noexcept {
    while (range_ <= kRangeBottom) {
        if (low_ < kCarryFreeBound) {
            releaseHeldBytes(0);
            held_ = static_cast<std::uint8_t>(low_ >> kLeavingShift);
        } else if ((low_ & kCarryBit) != 0) {
            releaseHeldBytes(1);
            held_ = static_cast<std::uint8_t>(low_ >> kLeavingShift);
        } else {
            // A 0xFF byte leaves, and a later carry may still turn it into 0x00.
            ++pending_;
        }
        range_ <<= 8;
        low_ = (low_ & kWindowRest) << 8;
        ++emitted_;
    }
}

// The last symbol of the table also takes the remainder that the 12-bit unit
// leaves over, so that the whole range stays in use.
void ReferenceRangeCoder::encodeSymbol(std::int32_t symbol) noexcept {
    std::int32_t frequency = 0;
    std::int32_t base = 0;
    modelGetFrequency(&model_, symbol, frequency, base);
    normalizeEncoder();
    const std::uint32_t unit = range_ >> kScaleBits;
    const auto b = static_cast<std::uint32_t>(base);
    const auto f = static_cast<std::uint32_t>(frequency);
    low_ += unit * b;  // may carry into bit 31
    if (b + f >= kTotal) {
        range_ -= unit * b;
    } else {
        range_ = unit * f;
    }
}

// Chooses the flush byte so that the value the decoder ends with, whose last
// 23 bits come from the length field that follows, lies inside the interval.
std::uint32_t ReferenceRangeCoder::flushEncoder() noexcept {
    normalizeEncoder();
    emitted_ += kFlushBytes;
    std::uint32_t last = low_ >> kLeavingShift;
    if ((low_ & kWindowRest) >= ((emitted_ >> 1) & kWindowRest)) ++last;
    releaseHeldBytes(last > 0xFF ? 1 : 0);
    putByte(static_cast<std::uint8_t>(last));
    putByte(static_cast<std::uint8_t>(emitted_ >> 16));
    putByte(static_cast<std::uint8_t>(emitted_ >> 8));
    putByte(static_cast<std::uint8_t>(emitted_));
    return emitted_;
}

bool ReferenceRangeCoder::encodeBlock(std::uint8_t* out, const std::uint8_t* in,
                                      std::uint32_t outCap, std::uint32_t inLen,
                                      std::uint32_t& count) noexcept {
    if (!modelReady()) return false;
    inBuf_ = in;
    outBuf_ = out;
    inLen_ = inLen;
    outCap_ = outCap;
    outPos_ = 0;
    low_ = 0;
    range_ = kRangeStart;
    held_ = 0;  // becomes the leading carry byte at the first shift
    pending_ = 0;
    emitted_ = 0;
    for (inPos_ = 0; inPos_ < inLen_; ++inPos_) {
        const std::int32_t symbol = inBuf_[inPos_];
        encodeSymbol(symbol);
        modelUpdate(&model_, symbol);
    }
    encodeSymbol(kEndOfBlock);  // never counted, so its frequency stays 2 or 1
    flushEncoder();
    count = outPos_;
    return true;
}

// Appends the lowest bit of the previous byte and the upper 7 of the next, one
// byte per shift. Returns false when the input runs out before the range is
// back above 2^23; low has then taken its shift and range has not.
bool ReferenceRangeCoder::normalizeDecoder() noexcept {
    while (range_ <= kRangeBottom) {
        low_ = (low_ << 8) | ((static_cast<std::uint32_t>(held_) << 7) & 0xFF);
        if (inPos_ >= inLen_) return false;
        held_ = inBuf_[inPos_++];
        low_ |= static_cast<std::uint32_t>(held_ >> 1);
        range_ <<= 8;
    }
    return true;
}

void ReferenceRangeCoder::narrowDecoder(std::uint32_t unit, std::int32_t symbol) noexcept {
    std::int32_t frequency = 0;
    std::int32_t base = 0;
    modelGetFrequency(&model_, symbol, frequency, base);
    const auto b = static_cast<std::uint32_t>(base);
    const auto f = static_cast<std::uint32_t>(frequency);
    low_ -= unit * b;
    if (b + f < kTotal) {
        range_ = unit * f;
    } else {
        range_ -= unit * b;
    }
}

// Sound on any input bytes. The loop runs only after priming and only while
// input is left, so its normalisation shifts at least once, starting from a
// range of 2^7 (priming) or of at least one unit of the previous symbol, which
// is 2^11 or more whenever a further pass runs (every frequency is at least 1,
// and the last symbol keeps at least one unit). The divisor is therefore never
// below 2^15 >> 12 = 8. The value is clamped to the table, so the lookup stays
// within its buckets; every pass writes a byte, leaves, or fails at the
// capacity, so at most outCap + 1 passes run. On a damaged payload low may
// wrap around, which only changes the symbols decoded.
bool ReferenceRangeCoder::decodeBlock(std::uint8_t* out, const std::uint8_t* in,
                                      std::uint32_t outCap, std::uint32_t inLen,
                                      std::uint32_t& count) noexcept {
    if (!modelReady()) return false;
    inBuf_ = in;
    outBuf_ = out;
    inLen_ = inLen;
    outCap_ = outCap;
    outPos_ = 0;
    inPos_ = 0;
    if (inLen_ > 0) inPos_ = 1;  // the carry byte is always 0x00
    if (inLen_ > 1) {
        held_ = inBuf_[1];
        inPos_ = 2;
        low_ = held_ >> 1;
        range_ = kPrimedRange;
    }
    while (inPos_ < inLen_) {
        normalizeDecoder();  // running out here only ends the loop after this symbol
        const std::uint32_t unit = range_ >> kScaleBits;
        pending_ = unit;
        std::uint32_t value = low_ / unit;
        if (value > kLargestValue) value = kLargestValue;
        const std::int32_t symbol = modelFindSymbol(&model_, static_cast<std::int32_t>(value));
        if (symbol == kEndOfBlock) break;
        if (outPos_ >= outCap_) return false;
        outBuf_[outPos_++] = static_cast<std::uint8_t>(symbol);
        narrowDecoder(unit, symbol);
        modelUpdate(&model_, symbol);
    }
    // Consumes the rest of a well-formed payload: the flush byte and the length.
    narrowDecoder(pending_, kEndOfBlock);
    normalizeDecoder();
    count = outPos_;
    return true;
}

}  // namespace tavrine::test
