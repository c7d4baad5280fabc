// The codec put together from its straightforward parts, step by step as the
// block loops are written down: the literal block sort, move-to-front on a
// plain table, the step-by-step range coder and the plain successor walk. The
// oracle for the production loops, which fuse and speed up these stages.
#pragma once

#include <array>
#include <cstdint>

#include "support/data_generator.h"

namespace tavrine::test {

// Move-to-front on a plain table: search from the front, move with memmove.
class PlainMoveToFront {
public:
    PlainMoveToFront();
    std::uint32_t encode(std::uint8_t value);
    std::uint8_t decode(std::uint32_t position);
    const std::array<std::uint8_t, 256>& entries() const { return entries_; }

private:
    std::array<std::uint8_t, 256> entries_{};
};

// The block of a record (primary index, last column) by the plain successor
// walk from the primary row; the primary index must lie inside the block.
Bytes plainInverseBlockSort(const Bytes& record);

// The outcome of an encode or decode call: result, the word at dstLen
// (kNotStored unless the call stored it) and the output buffer of `capacity`
// bytes. Of an encoding, `complete` counts the bytes of the blocks written in
// full, the whole stream when the call succeeds; the encoder may leave scratch
// behind them (the tail of a coded form that was not kept), which is no part
// of its output.
constexpr std::uint32_t kNotStored = 0xDEADBEEF;
struct Outcome {
    int result = 0;
    std::uint32_t length = kNotStored;
    Bytes buffer;
    std::uint32_t complete = 0;
};

// Encoding with variant 0 or 5 and decoding, without progress callbacks.
Outcome referenceEncode(std::uint32_t variant, const Bytes& src, std::uint32_t capacity);
Outcome referenceDecode(const Bytes& stream, std::uint32_t capacity);

}  // namespace tavrine::test
