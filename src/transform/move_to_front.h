// Move-to-front: every byte becomes its position in a table of the 256 byte
// values, and that value then moves to the front. Runs of equal bytes become
// runs of zeros. The table carries over from call to call, so encoder and
// decoder must see the same bytes in the same order from the same reset.
#pragma once

#include <array>
#include <cstdint>

namespace tavrine {

class MoveToFrontTable {
public:
    static constexpr std::uint32_t kValues = 256;
    using Entries = std::array<std::uint8_t, kValues>;

    MoveToFrontTable() noexcept { reset(); }

    // Position i holds value i.
    void reset() noexcept;

    // Replaces count bytes (none when count <= 0) by their table positions.
    // Byte i is written after byte i is read, so dst may equal src.
    void MoveToFrontEncode(std::uint8_t* dst, const std::uint8_t* src, std::int32_t count) noexcept;

    // Replaces count positions (none when count <= 0) by the values they name;
    // the inverse of MoveToFrontEncode from the same table. dst may equal src.
    void MoveToFrontDecode(std::uint8_t* dst, const std::uint8_t* src, std::int32_t count) noexcept;

    // Position 0 is the front; always a permutation of 0 .. 255.
    const Entries& entries() const noexcept { return entries_; }

private:
    void moveToFront(std::uint32_t position) noexcept;

    Entries entries_{};
};

}  // namespace tavrine
