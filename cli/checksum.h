// Checksums of the .tvr file, all from xxHash's 64-bit XXH3 with seed 0:
// content checksums are the full 64 bits over decoded bytes, frame checks are
// its low 32 bits over the bytes of a header or frame before the check.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

struct XXH3_state_s;

namespace tavrine::tool {

std::uint64_t contentChecksum(std::span<const std::uint8_t> bytes) noexcept;

std::uint32_t frameCheck(std::span<const std::uint8_t> bytes) noexcept;

// contentChecksum over bytes that arrive piece by piece.
class StreamingChecksum {
public:
    StreamingChecksum();  // throws std::bad_alloc
    void update(std::span<const std::uint8_t> bytes) noexcept;
    std::uint64_t digest() const noexcept;

private:
    struct StateDeleter {
        void operator()(XXH3_state_s* state) const noexcept;
    };
    std::unique_ptr<XXH3_state_s, StateDeleter> state_;
};

}  // namespace tavrine::tool
