// Hints to the compiler for the hot loops, each with a portable meaning.
#pragma once

#include <cstdint>

#if defined(_MSC_VER)
#include <intrin.h>
#endif

// Keeps a function with a hot loop out of line: inlined into a caller with
// state of its own, the loop's pointers no longer fit the registers and are
// reloaded from the stack on every step.
#if defined(__GNUC__) || defined(__clang__)
#define TAVRINE_NOINLINE [[gnu::noinline]]
#elif defined(_MSC_VER)
#define TAVRINE_NOINLINE __declspec(noinline)
#else
#define TAVRINE_NOINLINE
#endif

// Inlines a function into every caller, also one compiled for more of the
// processor's instructions than the function itself.
#if defined(__GNUC__) || defined(__clang__)
#define TAVRINE_ALWAYS_INLINE [[gnu::always_inline]] inline
#elif defined(_MSC_VER)
#define TAVRINE_ALWAYS_INLINE __forceinline
#else
#define TAVRINE_ALWAYS_INLINE inline
#endif

namespace tavrine::platform {

// Marks a point no execution reaches (std::unreachable arrives with C++23).
// The compiler may drop the tests that lead only here.
[[noreturn]] inline void unreachable() noexcept {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_unreachable();
#elif defined(_MSC_VER)
    __assume(false);
#endif
}

// Makes `value` be computed where this call stands, on every path that passes
// here, instead of being sunk into the one branch that uses it: a slow value
// (a division) then runs while the branch is still being decided. Without
// GNU inline assembly it is only a point in the code.
inline void computeBeforeBranch(std::uint32_t& value) noexcept {
#if defined(__GNUC__) || defined(__clang__)
    __asm__ volatile("" : "+r"(value));
#else
    static_cast<void>(value);
#endif
}

// One step of a loop that waits for another thread to write a variable: it
// tells the processor so (x86 `pause`, Arm `yield`), which lets the other
// thread of a shared core run and saves power; elsewhere it does nothing.
inline void relaxWhileWaiting() noexcept {
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
    __builtin_ia32_pause();
#elif (defined(__GNUC__) || defined(__clang__)) && (defined(__aarch64__) || defined(__arm__))
    __asm__ volatile("yield");
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
    _mm_pause();
#endif
}

}  // namespace tavrine::platform
