// One codec stream per call, through the module's C interface: encode a piece
// of input into a stream as ZOLT_Encode writes it, decode such a stream into a
// buffer of known size, and count its blocks from their headers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "tavrine.h"

namespace tavrine::tool {

// The codec refused a call (memory exhaustion or a stream too long for its
// 32-bit lengths); the message names the cause.
class CodecError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Largest input that one stream can hold: the codec's lengths are 32-bit.
constexpr std::uint64_t kMaxStreamInput = 0xFFFFFFFFu;

// The stream of `input` (at most kMaxStreamInput bytes) in `variant`, byte for
// byte what ZOLT_Encode writes. Throws CodecError when the codec refuses.
std::vector<std::uint8_t> encodeStream(std::uint32_t variant, std::span<const std::uint8_t> input,
                                       ZOLT_ProgressCallback callback = nullptr,
                                       void* user = nullptr);

// Decodes `stream` into `output`; true only when it decodes completely to
// exactly output.size() bytes.
bool decodeStream(std::span<const std::uint8_t> stream, std::span<std::uint8_t> output,
                  ZOLT_ProgressCallback callback = nullptr, void* user = nullptr) noexcept;

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

}  // namespace tavrine::tool
