// One whole-buffer call of tavrine and of libbz2, as the benchmark programs
// make them: each returns the output's length, or fails the whole run
// through the caller's `fail`, which does not return.
#pragma once

#include <bzlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tavrine.h"

namespace tavrine::bench {

using Bytes = std::vector<std::uint8_t>;
using FailFunction = void (*)(const char* message);

constexpr std::uint32_t kType = 2;

inline std::size_t tavrineEncode(std::uint32_t variant, const Bytes& in, Bytes& out,
                                 FailFunction fail) {
    auto length = static_cast<std::uint32_t>(out.size());
    if (ZOLT_Encode(kType, variant, in.data(), static_cast<std::uint32_t>(in.size()), out.data(),
                    &length, nullptr, nullptr) != 1) {
        fail("tavrine encoding failed");
    }
    return length;
}

inline std::size_t tavrineDecode(const Bytes& in, Bytes& out, FailFunction fail) {
    auto length = static_cast<std::uint32_t>(out.size());
    if (ZOLT_Decode(kType, in.data(), static_cast<std::uint32_t>(in.size()), out.data(), &length,
                    nullptr, nullptr) != 1) {
        fail("tavrine decoding failed");
    }
    return length;
}

inline std::size_t bzipCompress(int blockSize, const Bytes& in, Bytes& out, FailFunction fail) {
    auto length = static_cast<unsigned>(out.size());
    if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &length,
                                 const_cast<char*>(reinterpret_cast<const char*>(in.data())),
                                 static_cast<unsigned>(in.size()), blockSize, 0, 0) != BZ_OK) {
        fail("libbz2 compression failed");
    }
    return length;
}

inline std::size_t bzipDecompress(const Bytes& in, Bytes& out, FailFunction fail) {
    auto length = static_cast<unsigned>(out.size());
    if (BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &length,
                                   const_cast<char*>(reinterpret_cast<const char*>(in.data())),
                                   static_cast<unsigned>(in.size()), 0, 0) != BZ_OK) {
        fail("libbz2 decompression failed");
    }
    return length;
}

}  // namespace tavrine::bench
