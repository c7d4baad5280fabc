// Selection without a branch, for hot loops whose conditions depend on the
// data and so defeat branch prediction. GCC turns a conditional expression
// into a branch whenever it guesses the condition predictable, so on x86 it
// gets the conditional moves spelt out, sharing one comparison; other
// compilers and targets get plain expressions, which they compile to
// conditional moves or masks.
#pragma once

#include <cstdint>

#if defined(__GNUC__) && !defined(__clang__) && (defined(__x86_64__) || defined(__i386__))
#define TAVRINE_BRANCHLESS_X86_ASM 1
#endif

namespace tavrine::platform {

// One rung of a ladder of selections: when a < b (unsigned), x becomes
// xIfBelow, y becomes yIfBelow and `below` grows by one; otherwise all three
// stay as they are.
inline void stepIfBelow(std::uint32_t a, std::uint32_t b, std::uint32_t xIfBelow, std::uint32_t& x,
                        std::uint32_t yIfBelow, std::uint32_t& y, std::uint32_t& below) noexcept {
#if defined(TAVRINE_BRANCHLESS_X86_ASM)
    __asm__(
        "cmpl %[b], %[a]\n\t"
        "cmovbl %[xIfBelow], %[x]\n\t"
        "cmovbl %[yIfBelow], %[y]\n\t"
        "adcl $0, %[below]"
        : [x] "+r"(x), [y] "+r"(y), [below] "+r"(below)
        : [a] "r"(a), [b] "ri"(b), [xIfBelow] "rm"(xIfBelow), [yIfBelow] "rm"(yIfBelow)
        : "cc");
#else
    const bool isBelow = a < b;
    x = isBelow ? xIfBelow : x;
    y = isBelow ? yIfBelow : y;
    below += isBelow ? 1 : 0;
#endif
}

// The same rung for three values.
inline void stepIfBelow(std::uint32_t a, std::uint32_t b, std::uint32_t xIfBelow, std::uint32_t& x,
                        std::uint32_t yIfBelow, std::uint32_t& y, std::uint32_t zIfBelow,
                        std::uint32_t& z, std::uint32_t& below) noexcept {
#if defined(TAVRINE_BRANCHLESS_X86_ASM)
    __asm__(
        "cmpl %[b], %[a]\n\t"
        "cmovbl %[xIfBelow], %[x]\n\t"
        "cmovbl %[yIfBelow], %[y]\n\t"
        "cmovbl %[zIfBelow], %[z]\n\t"
        "adcl $0, %[below]"
        : [x] "+r"(x), [y] "+r"(y), [z] "+r"(z), [below] "+r"(below)
        : [a] "r"(a), [b] "ri"(b), [xIfBelow] "rm"(xIfBelow), [yIfBelow] "rm"(yIfBelow),
          [zIfBelow] "rm"(zIfBelow)
        : "cc");
#else
    const bool isBelow = a < b;
    x = isBelow ? xIfBelow : x;
    y = isBelow ? yIfBelow : y;
    z = isBelow ? zIfBelow : z;
    below += isBelow ? 1 : 0;
#endif
}

// Makes `value` be computed where this stands, on every path that passes
// here, instead of being sunk into the one branch that uses it: a slow value
// (a division) can then run while the branch is still being decided.
inline void computeHere(std::uint32_t& value) noexcept {
#if defined(__GNUC__)
    __asm__ volatile("" : "+r"(value));
#else
    static_cast<void>(value);
#endif
}

}  // namespace tavrine::platform
