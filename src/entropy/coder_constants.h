// The arithmetic that the range encoder and decoder share: a 31-bit window,
// renormalised a byte at a time, and a fixed 12-bit scale.
#pragma once

#include <cstdint>

#include "entropy/frequency_model.h"

namespace tavrine::coding {

// The coder scales by a fixed 12 bits, so it needs the model's total to be 4096.
constexpr std::uint32_t kScaleBits = 12;
constexpr std::uint32_t kTotal = std::uint32_t{1} << kScaleBits;
static_assert(kTotal == static_cast<std::uint32_t>(kModelTotal));

constexpr std::uint32_t kRangeStart = 0x80000000;  // the full 31-bit window
// Both sides shift a byte while the range is at or below 2^23.
constexpr std::uint32_t kRangeBottom = 0x800000;
// Thresholds for the branch-free normalisations of at most two shifts: a
// range below kOnceBelow takes a first shift, one below kTwiceBelow a second.
// Two are always enough after a symbol, which leaves at least one unit
// (range >> 12, over 2^11) of a range above 2^23.
constexpr std::uint32_t kOnceBelow = kRangeBottom + 1;
constexpr std::uint32_t kTwiceBelow = (kRangeBottom >> 8) + 1;
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

}  // namespace tavrine::coding
