#include "container/tvr_format.h"

#include <algorithm>
#include <string>

#include "container/byte_io.h"
#include "container/checksum.h"
#include "stream/stream_format.h"

namespace tavrine::container {
namespace {

constexpr std::size_t kVersionOffset = 4;
constexpr std::size_t kVariantOffset = 5;
constexpr std::size_t kFlagsOffset = 6;
constexpr std::size_t kSegmentSizeOffset = 8;
constexpr std::size_t kFieldsOffset = kFrameKindSize;  // first field after the kind

void put32(std::uint8_t* at, std::uint32_t value) noexcept {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void put64(std::uint8_t* at, std::uint64_t value) noexcept {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get16(const std::uint8_t* at) noexcept {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8);
}

std::uint32_t get32(const std::uint8_t* at) noexcept {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}

std::uint64_t get64(const std::uint8_t* at) noexcept {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}

// Writes the check over all bytes before the last four into the last four.
template <std::size_t N>
void sealFrame(std::array<std::uint8_t, N>& bytes) noexcept {
    const std::span<const std::uint8_t> covered(bytes.data(), N - kFrameCheckSize);
    put32(bytes.data() + N - kFrameCheckSize, frameCheck(covered));
}

template <std::size_t N>
bool sealIntact(std::span<const std::uint8_t, N> bytes) noexcept {
    const std::span<const std::uint8_t> covered(bytes.data(), N - kFrameCheckSize);
    return get32(bytes.data() + N - kFrameCheckSize) == frameCheck(covered);
}

template <std::size_t N>
bool kindIntact(std::span<const std::uint8_t, N> bytes, std::uint8_t kind) noexcept {
    return bytes[0] == kind && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 0;
}

[[noreturn]] void unknownFormat(const std::string& what) {
    throw ContainerError(TAVRINE_UNKNOWN_FORMAT, 0, what);
}

}  // namespace

std::array<std::uint8_t, kHeaderSize> encodeHeader(const FileHeader& header) {
    std::array<std::uint8_t, kHeaderSize> bytes{};
    std::copy(kMagic.begin(), kMagic.end(), bytes.begin());
    bytes[kVersionOffset] = kFormatVersion;
    bytes[kVariantOffset] = header.variant;
    put32(bytes.data() + kSegmentSizeOffset, header.segmentSize);
    sealFrame(bytes);
    return bytes;
}

bool startsLikeMagic(std::span<const std::uint8_t> bytes) noexcept {
    const std::size_t n = std::min(bytes.size(), kMagic.size());
    return std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n), kMagic.begin());
}

FileHeader decodeHeader(std::span<const std::uint8_t, kHeaderSize> bytes) {
    if (!startsLikeMagic(bytes)) unknownFormat("not a tavrine file");
    if (!sealIntact(bytes)) throw ContainerError(TAVRINE_CORRUPT, 0, "damaged file header");
    const unsigned version = bytes[kVersionOffset];
    if (version != kFormatVersion) {
        unknownFormat("written in format version " + std::to_string(version) +
                      ", which this tavrine does not read (it reads version " +
                      std::to_string(kFormatVersion) + ")");
    }
    const std::uint32_t flags = get16(bytes.data() + kFlagsOffset);
    if (flags != 0) {
        unknownFormat("uses features this tavrine does not know (header flags " +
                      std::to_string(flags) + ")");
    }
    FileHeader header;
    header.variant = bytes[kVariantOffset];
    header.segmentSize = get32(bytes.data() + kSegmentSizeOffset);
    if (ZOLT_IsSupportedEncodeType(kStreamType, header.variant) == 0) {
        unknownFormat("written with unknown variant " + std::to_string(header.variant));
    }
    if (header.segmentSize < kMinSegmentSize || header.segmentSize > kMaxSegmentSize) {
        unknownFormat("unsupported segment size " + std::to_string(header.segmentSize));
    }
    return header;
}

std::array<std::uint8_t, kSegmentFrameSize> encodeSegmentFrame(const SegmentFrame& frame) {
    std::array<std::uint8_t, kSegmentFrameSize> bytes{};
    bytes[0] = kSegmentFrameKind;
    put32(bytes.data() + kFieldsOffset, frame.storedSize);
    put32(bytes.data() + kFieldsOffset + 4, frame.decodedSize);
    put64(bytes.data() + kFieldsOffset + 8, frame.checksum);
    put32(bytes.data() + kFieldsOffset + 16, frame.storedCheck);
    sealFrame(bytes);
    return bytes;
}

std::array<std::uint8_t, kEndFrameSize> encodeEndFrame(const EndFrame& frame) {
    std::array<std::uint8_t, kEndFrameSize> bytes{};
    bytes[0] = kEndFrameKind;
    put32(bytes.data() + kFieldsOffset, frame.segmentCount);
    put64(bytes.data() + kFieldsOffset + 4, frame.decodedSize);
    put64(bytes.data() + kFieldsOffset + 12, frame.checksum);
    sealFrame(bytes);
    return bytes;
}

std::optional<SegmentFrame> decodeSegmentFrame(std::span<const std::uint8_t, kSegmentFrameSize> bytes) noexcept {
    if (!kindIntact(bytes, kSegmentFrameKind) || !sealIntact(bytes)) return std::nullopt;
    SegmentFrame frame;
    frame.storedSize = get32(bytes.data() + kFieldsOffset);
    frame.decodedSize = get32(bytes.data() + kFieldsOffset + 4);
    frame.checksum = get64(bytes.data() + kFieldsOffset + 8);
    frame.storedCheck = get32(bytes.data() + kFieldsOffset + 16);
    return frame;
}

std::optional<EndFrame> decodeEndFrame(std::span<const std::uint8_t, kEndFrameSize> bytes) noexcept {
    if (!kindIntact(bytes, kEndFrameKind) || !sealIntact(bytes)) return std::nullopt;
    EndFrame frame;
    frame.segmentCount = get32(bytes.data() + kFieldsOffset);
    frame.decodedSize = get64(bytes.data() + kFieldsOffset + 4);
    frame.checksum = get64(bytes.data() + kFieldsOffset + 12);
    return frame;
}

}  // namespace tavrine::container
