// The encoded stream: blocks back to back, nothing before, between or after.
// Each block is a 4-byte header (block size including the header, decoded
// length; both unsigned 16-bit little-endian) and a payload. A payload of
// exactly decoded length + 2 bytes is the uncoded record; any other length is
// range coded.
#pragma once

#include <cstdint>

namespace tavrine {

constexpr std::uint32_t kStreamType = 2;
constexpr std::uint32_t kVariantUncoded = 0;
constexpr std::uint32_t kVariantRangeCoded = 5;

constexpr std::uint32_t kBlockSize = 8192;  // source bytes per block, the last may hold fewer
constexpr std::uint32_t kBlockHeaderSize = 4;
constexpr std::uint32_t kRecordOverhead = 2;  // primary index in front of the last column
constexpr std::uint32_t kMaxEncodedBlock = kBlockHeaderSize + kRecordOverhead + kBlockSize;
constexpr std::uint32_t kMaxBlockField = 0xFFFF;  // both header fields are 16 bits wide

// The decoder's record buffer takes blocks far larger than the encoder writes
// (8192 bytes), as far as the 16-bit header fields and this buffer allow.
constexpr std::uint32_t kDecodeRecordCapacity = 32776;
constexpr std::uint32_t kMaxDecodedBlock = kDecodeRecordCapacity - kRecordOverhead;

struct BlockHeader {
    std::uint32_t size;           // bytes of the whole block, header included
    std::uint32_t decodedLength;  // source bytes the block decodes to
};

inline std::uint32_t readLittleEndian16(const std::uint8_t* at) noexcept {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8);
}

inline void writeLittleEndian16(std::uint8_t* at, std::uint32_t value) noexcept {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

// Reads the header at the start of a block; the caller ensures 4 bytes are there.
inline BlockHeader readBlockHeader(const std::uint8_t* block) noexcept {
    return {readLittleEndian16(block), readLittleEndian16(block + 2)};
}

// The checks a header passes on its own, before anything of its payload is
// looked at: a block holds more than its header and decodes to 1 to
// kMaxDecodedBlock bytes, so that its record fits the decoder's buffer.
inline bool headerIsPlausible(BlockHeader header) noexcept {
    return header.size > kBlockHeaderSize && header.decodedLength != 0 &&
           header.decodedLength <= kMaxDecodedBlock;
}

inline void writeBlockHeader(std::uint8_t* block, BlockHeader header) noexcept {
    writeLittleEndian16(block, header.size);
    writeLittleEndian16(block + 2, header.decodedLength);
}

}  // namespace tavrine
