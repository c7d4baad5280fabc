// Selection without a branch, for hot loops whose conditions depend on the
// data and so defeat branch prediction. GCC turns a conditional expression
// into a branch whenever it guesses the condition predictable, so on x86 it
// gets the conditional move spelt out; other compilers and targets get the
// plain expression, which they compile to a conditional move or a mask.
#pragma once

#include <cstdint>

namespace tavrine::platform {

// a < b (unsigned) ? ifBelow : otherwise.
inline std::uint32_t selectIfBelow(std::uint32_t a, std::uint32_t b, std::uint32_t ifBelow,
                                   std::uint32_t otherwise) noexcept {
#if defined(__GNUC__) && !defined(__clang__) && (defined(__x86_64__) || defined(__i386__))
    __asm__("cmpl %[b], %[a]\n\tcmovbl %[ifBelow], %[result]"
            : [result] "+r"(otherwise)
            : [a] "r"(a), [b] "rm"(b), [ifBelow] "rm"(ifBelow)
            : "cc");
    return otherwise;
#else
    return a < b ? ifBelow : otherwise;
#endif
}

}  // namespace tavrine::platform
