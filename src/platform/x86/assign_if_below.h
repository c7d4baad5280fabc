// assignIfBelow (platform/branchless.h) for GCC on x86: one comparison, a
// conditional move per variable, and the carry added to the count. Included
// by platform/branchless.h when platform/target.h selects it.
#pragma once

#include <cstdint>

namespace tavrine::platform {

// Count is std::uint32_t, or a byte pointer that the carry moves on.
template <typename Count>
inline void assignIfBelow(std::uint32_t a, std::uint32_t b, std::uint32_t newX, std::uint32_t& x,
                          std::uint32_t newY, std::uint32_t& y, Count& belowCount) noexcept {
    __asm__(
        "cmpl %[b], %[a]\n\t"
        "cmovbl %[newX], %[x]\n\t"
        "cmovbl %[newY], %[y]\n\t"
        "adc $0, %[count]"
        : [x] "+r"(x), [y] "+r"(y), [count] "+r"(belowCount)
        : [a] "r"(a), [b] "ri"(b), [newX] "rm"(newX), [newY] "rm"(newY)
        : "cc");
}

inline void assignIfBelow(std::uint32_t a, std::uint32_t b, std::uint32_t newX, std::uint32_t& x,
                          std::uint32_t newY, std::uint32_t& y, std::uint32_t newZ,
                          std::uint32_t& z, std::uint32_t& belowCount) noexcept {
    __asm__(
        "cmpl %[b], %[a]\n\t"
        "cmovbl %[newX], %[x]\n\t"
        "cmovbl %[newY], %[y]\n\t"
        "cmovbl %[newZ], %[z]\n\t"
        "adcl $0, %[count]"
        : [x] "+r"(x), [y] "+r"(y), [z] "+r"(z), [count] "+r"(belowCount)
        : [a] "r"(a), [b] "ri"(b), [newX] "rm"(newX), [newY] "rm"(newY), [newZ] "rm"(newZ)
        : "cc");
}

}  // namespace tavrine::platform
