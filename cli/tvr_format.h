// The .tvr format as the tool speaks of it: its limits (from the library's
// interface, which reads and writes the format) and the tool's errors.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>

#include "tavrine_api.h"

namespace tavrine::tool {

// A .tvr file's first four bytes (docs/format.md).
constexpr std::array<std::uint8_t, 4> kMagic = {0x89, 'T', 'V', 'R'};
constexpr std::uint8_t kFormatVersion = TAVRINE_TVR_FORMAT_VERSION;
constexpr std::uint32_t kDefaultSegmentSize = TAVRINE_TVR_DEFAULT_SEGMENT_SIZE;
constexpr std::uint32_t kMinSegmentSize = TAVRINE_TVR_MIN_SEGMENT_SIZE;
constexpr std::uint32_t kMaxSegmentSize = TAVRINE_TVR_MAX_SEGMENT_SIZE;

// The sentence every report of damaged input ends with.
inline constexpr const char* kCorruptedSuffix = " -- the file is corrupted";

// The input is not a well-formed .tvr file or stream; the message says why in plain words.
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The codec refused to go on (memory exhaustion, an input too large for the
// format); the message names the cause.
class CodecError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace tavrine::tool
