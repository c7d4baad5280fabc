// The .tvr file format (docs/format.md): a 16-byte header, then segments, each
// a 28-byte frame followed by one stream exactly as ZOLT_Encode writes it, then
// a 28-byte end frame. Further members may follow; the file decodes to the
// concatenation of their contents. Integers are little-endian. Every header
// and frame ends in a 32-bit check over its own bytes, so that damage to the
// framing is told apart from damage to the data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

namespace tavrine::tool {

constexpr std::array<std::uint8_t, 4> kMagic = {0x89, 'T', 'V', 'R'};
constexpr std::uint8_t kFormatVersion = 1;
constexpr std::uint32_t kStreamType = 2;  // the codec's only stream type

constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kFrameKindSize = 4;  // kind byte and three zero bytes
constexpr std::size_t kSegmentFrameSize = 28;
constexpr std::size_t kEndFrameSize = 28;
constexpr std::size_t kFrameCheckSize = 4;
constexpr std::uint8_t kSegmentFrameKind = 'S';
constexpr std::uint8_t kEndFrameKind = 'E';

// A segment's decoded size must fit the codec's 32-bit lengths with room for
// its maximum encoded length; 64 MiB also bounds what a reader allocates per
// segment for a hostile file.
constexpr std::uint32_t kDefaultSegmentSize = 1u << 20;
constexpr std::uint32_t kMinSegmentSize = 4u << 10;
constexpr std::uint32_t kMaxSegmentSize = 64u << 20;

// The sentence every report of damaged input ends with.
inline constexpr const char* kCorruptedSuffix = " -- the file is corrupted";

// The input is not a well-formed .tvr file; the message says why in plain words.
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct FileHeader {
    std::uint8_t variant = 5;
    std::uint32_t segmentSize = kDefaultSegmentSize;
};

struct SegmentFrame {
    std::uint32_t storedSize = 0;   // bytes of the stream that follows the frame
    std::uint32_t decodedSize = 0;  // bytes it decodes to, 1 to the segment size
    std::uint64_t checksum = 0;     // contentChecksum of the decoded bytes
    std::uint32_t storedCheck = 0;  // frameCheck of the stored stream: catches damage to
                                    // bits the codec itself never reads
};

struct EndFrame {
    std::uint32_t segmentCount = 0;
    std::uint64_t decodedSize = 0;  // of the whole member
    std::uint64_t checksum = 0;     // contentChecksum of the whole member's content
};

std::array<std::uint8_t, kHeaderSize> encodeHeader(const FileHeader& header);

// Whether the first bytes (up to four) agree with the magic number.
bool startsLikeMagic(std::span<const std::uint8_t> bytes) noexcept;

// Throws FormatError: "not a tavrine file", a damaged header, an unknown
// version or flags, or a variant or segment size out of range.
FileHeader decodeHeader(std::span<const std::uint8_t, kHeaderSize> bytes);

std::array<std::uint8_t, kSegmentFrameSize> encodeSegmentFrame(const SegmentFrame& frame);
std::array<std::uint8_t, kEndFrameSize> encodeEndFrame(const EndFrame& frame);

// The fields of a frame whose kind, zero bytes and check are intact; nullopt
// otherwise. Field values are not judged here.
std::optional<SegmentFrame> decodeSegmentFrame(std::span<const std::uint8_t, kSegmentFrameSize> bytes) noexcept;
std::optional<EndFrame> decodeEndFrame(std::span<const std::uint8_t, kEndFrameSize> bytes) noexcept;

}  // namespace tavrine::tool
