// What an input holds, for choosing the decoder and for refusals that say
// what to do: a .tvr file starts with its magic number, which no bare stream
// can start with (its first block would be longer than any block), and a
// bare stream is a run of block headers that tile it.
#pragma once

#include <array>
#include <cstdint>

#include "byte_io.h"
#include "tvr_format.h"

namespace tavrine::tool {

// Passes bytes through, counting them and keeping the first few.
class InputTap final : public ByteSource {
public:
    explicit InputTap(ByteSource& inner) noexcept : inner_(inner) {}
    std::size_t readSome(std::span<std::uint8_t> into) override;

    std::uint64_t bytesRead() const noexcept { return bytesRead_; }
    // Whether the bytes read so far began with the .tvr magic number.
    bool sawTvrMagic() const noexcept;

private:
    ByteSource& inner_;
    std::uint64_t bytesRead_ = 0;
    std::array<std::uint8_t, kMagic.size()> prefix_{};
    std::size_t prefixLength_ = 0;
};

// Whether the file open on `fd` starts with the .tvr magic number (read at
// offset 0, leaving the file position alone).
bool startsWithTvrMagic(int fd) noexcept;
// Whether `bytes` start with it.
bool startsWithTvrMagic(std::span<const std::uint8_t> bytes) noexcept;

// Whether the `size` bytes of the file open on `fd` are a bare stream as far
// as its block headers tell: every block between 5 bytes and its decoded
// length + 6, decoding to 1 to 8192 bytes, and the last ending at the end.
// Nothing is decoded. False for empty files and read errors.
bool parsesAsBareStream(int fd, std::uint64_t size) noexcept;

}  // namespace tavrine::tool
