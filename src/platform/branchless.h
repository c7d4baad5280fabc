// Selections without a branch, for hot loops whose conditions follow the
// data and so defeat branch prediction. Compilers turn a conditional
// expression into a branch whenever they guess the condition predictable;
// these forms leave them no branch to make.
#pragma once

#include <concepts>
#include <cstdint>

#include "platform/target.h"

namespace tavrine::platform {

// All ones when `condition` holds, else zero.
template <std::unsigned_integral T>
constexpr T maskIf(bool condition) noexcept {
    return T{0} - static_cast<T>(condition);
}

// ifSet where `mask` has ones, ifClear where it has zeros.
template <std::unsigned_integral T>
constexpr T selectByMask(T mask, T ifSet, T ifClear) noexcept {
    return (ifSet & mask) | (ifClear & ~mask);
}

// ifTrue when `condition` holds, else ifFalse.
template <std::unsigned_integral T>
constexpr T selectIf(bool condition, T ifTrue, T ifFalse) noexcept {
    return selectByMask(maskIf<T>(condition), ifTrue, ifFalse);
}

// Exchanges a and b when `mask` is all ones; leaves them when it is zero.
template <std::unsigned_integral T>
constexpr void exchangeByMask(T mask, T& a, T& b) noexcept {
    const T differ = (a ^ b) & mask;
    a ^= differ;
    b ^= differ;
}

}  // namespace tavrine::platform

// assignIfBelow(a, b, ...): when a < b (unsigned), every variable takes its
// new value and `belowCount` grows by one (a count, or a byte pointer that
// moves on a byte); otherwise all stay as they are.
// The range coder's normalisations and symbol choices run on these, one
// comparison shared by all assignments. The x86 form spells out the
// conditional moves, which GCC would otherwise turn into branches.
#if TAVRINE_X86_GCC_ASM
#include "platform/x86/assign_if_below.h"
#else
namespace tavrine::platform {

template <typename Count>
inline void assignIfBelow(std::uint32_t a, std::uint32_t b, std::uint32_t newX, std::uint32_t& x,
                          std::uint32_t newY, std::uint32_t& y, Count& belowCount) noexcept {
    const bool isBelow = a < b;
    x = isBelow ? newX : x;
    y = isBelow ? newY : y;
    belowCount += isBelow ? 1 : 0;
}

inline void assignIfBelow(std::uint32_t a, std::uint32_t b, std::uint32_t newX, std::uint32_t& x,
                          std::uint32_t newY, std::uint32_t& y, std::uint32_t newZ,
                          std::uint32_t& z, std::uint32_t& belowCount) noexcept {
    const bool isBelow = a < b;
    x = isBelow ? newX : x;
    y = isBelow ? newY : y;
    z = isBelow ? newZ : z;
    belowCount += isBelow ? 1 : 0;
}

}  // namespace tavrine::platform
#endif
