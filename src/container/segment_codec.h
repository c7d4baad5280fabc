// One codec stream per segment of a .tvr file: encode a piece of input into a
// stream exactly as ZOLT_Encode writes it, decode such a stream into a buffer
// of known size, and read a stream's block headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tavrine::container {

// The stream of `input` (at most 4 GiB - 1 bytes, so that the stream's
// length is a 32-bit one too: segments hold at most 64 MiB) in `variant`,
// byte for byte what ZOLT_Encode writes. Throws std::bad_alloc.
std::vector<std::uint8_t> encodeStream(std::uint32_t variant, std::span<const std::uint8_t> input);

// Room that always suffices for the stream of inputSize bytes: one largest
// block more than the input needs, as ZOLT_GetMaximumEncodedLength gives it.
std::size_t largestStreamSize(std::size_t inputSize) noexcept;

// The same stream written into `output`, which holds largestStreamSize()
// bytes; returns its length. With threads >= 2 the blocks of a long enough
// input are sorted on that many threads, the caller's included (the same
// bytes). Throws std::bad_alloc.
std::size_t encodeStreamInto(std::uint32_t variant, std::span<const std::uint8_t> input,
                             std::span<std::uint8_t> output, unsigned threads = 1);

// Decodes `stream` into `output`; true only when it decodes completely to
// exactly output.size() bytes. With threads >= 2 the blocks of a long enough
// stream are inverse sorted on that many threads, the caller's included (the
// same verdict and bytes). Throws std::bad_alloc.
bool decodeStream(std::span<const std::uint8_t> stream, std::span<std::uint8_t> output,
                  unsigned threads = 1);

// The decoded length the block headers of a stream announce (the module's
// walk); nullopt when the headers do not tile the stream exactly.
std::optional<std::uint32_t> announcedLength(std::span<const std::uint8_t> stream) noexcept;

struct BlockCounts {
    std::uint64_t coded = 0;
    std::uint64_t uncoded = 0;
};

// Coded and uncoded blocks of a stream, told apart by their header sizes: an
// uncoded payload is exactly decoded length + 2 bytes. nullopt when the
// headers do not tile the stream.
std::optional<BlockCounts> countBlocks(std::span<const std::uint8_t> stream) noexcept;

}  // namespace tavrine::container
