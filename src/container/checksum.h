// Checksums of the .tvr file, all from xxHash's 64-bit XXH3 with seed 0:
// content checksums are the full 64 bits over decoded bytes, frame checks are
// its low 32 bits over the bytes of a header or frame before the check.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace tavrine::container {

std::uint64_t contentChecksum(std::span<const std::uint8_t> bytes) noexcept;

std::uint32_t frameCheck(std::span<const std::uint8_t> bytes) noexcept;

// contentChecksum over bytes that arrive piece by piece.
class StreamingChecksum {
public:
    StreamingChecksum();  // throws std::bad_alloc
    ~StreamingChecksum();
    StreamingChecksum(const StreamingChecksum&) = delete;
    StreamingChecksum& operator=(const StreamingChecksum&) = delete;

    void update(std::span<const std::uint8_t> bytes) noexcept;
    std::uint64_t digest() const noexcept;

private:
    struct State;  // xxHash's, kept out of this header
    std::unique_ptr<State> state_;
};

}  // namespace tavrine::container
