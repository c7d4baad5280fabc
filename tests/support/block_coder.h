// The range coder with whole-block calls: loops that code one symbol at a
// time through the coder's inline steps. The codec itself codes records
// through the fused move-to-front loops (record_coding.h); these loops are
// the coder on its own, for tests and benchmarks of it.
#pragma once

#include <cstdint>

#include "entropy/range_coder.h"

namespace tavrine::test {

class BlockCoder : public RangeCoder {
public:
    // Codes the inLen bytes at `in` and the end-of-block symbol into `out`,
    // updating the model for every input byte. Writes at most outCap bytes and
    // sets count to the number written; bytes past outCap are dropped, so the
    // payload is complete only when count == codedLength(). Returns false, with
    // nothing written, only when the model holds no arrays.
    bool encodeBlock(std::uint8_t* out, const std::uint8_t* in, std::uint32_t outCap,
                     std::uint32_t inLen, std::uint32_t& count) noexcept;

    // Decodes symbols from the inLen payload bytes at `in` into `out` until the
    // end-of-block symbol or the end of the input, updating the model, and sets
    // count to the bytes written. Returns false, count untouched, when a symbol
    // arrives after outCap bytes were written, or when the model holds no arrays.
    bool decodeBlock(std::uint8_t* out, const std::uint8_t* in, std::uint32_t outCap,
                     std::uint32_t inLen, std::uint32_t& count) noexcept;
};

}  // namespace tavrine::test
