// The one place that decides which processor-specific code a build uses.
//
// Code written for one family of processors lives in an x86/ directory
// beside the portable form of the same step, and each stage chooses between
// the two by these switches alone. The portable forms are complete and exact
// on any host, big-endian ones included; building with TAVRINE_PORTABLE
// defined (CMake option TAVRINE_PORTABLE) uses them everywhere, which is how
// they are tested on x86.
#pragma once

// SSE2 vector code: move-to-front's front and table searches, the pair
// comparisons of the seed scan.
#if !defined(TAVRINE_PORTABLE) && defined(__SSE2__)
#define TAVRINE_X86_SSE2 1
#else
#define TAVRINE_X86_SSE2 0
#endif

// GCC inline assembly for conditional moves: GCC turns a conditional
// expression into a branch whenever it guesses the condition predictable,
// which the range coder's data-dependent conditions are not. Clang keeps
// such expressions branch-free by itself.
#if !defined(TAVRINE_PORTABLE) && defined(__GNUC__) && !defined(__clang__) && \
    (defined(__x86_64__) || defined(__i386__))
#define TAVRINE_X86_GCC_ASM 1
#else
#define TAVRINE_X86_GCC_ASM 0
#endif

// SSSE3 byte shuffles for move-to-front's decoding cursor, in code compiled
// for them (TAVRINE_TARGET_SSSE3) and chosen at run time on processors that
// have them (platform/x86/cpu_features.h): the SSE2 baseline of the build
// does not promise them. GCC and Clang only.
#if TAVRINE_X86_SSE2 && (defined(__GNUC__) || defined(__clang__))
#define TAVRINE_X86_SSSE3_DISPATCH 1
#define TAVRINE_TARGET_SSSE3 [[gnu::target("ssse3")]]
#else
#define TAVRINE_X86_SSSE3_DISPATCH 0
#endif

// SSE4.1 blends and 64-bit comparisons for move-to-front's encoding cursor,
// chosen at run time in the same way.
#if TAVRINE_X86_SSSE3_DISPATCH
#define TAVRINE_X86_SSE41_DISPATCH 1
#define TAVRINE_TARGET_SSE41 [[gnu::target("sse4.1")]]
#else
#define TAVRINE_X86_SSE41_DISPATCH 0
#endif

// AVX2 for move-to-front's steps behind the front, chosen at run time in the
// same way. Not on Windows: there GCC may keep 32-byte vectors on a stack
// that the system does not align to 32 bytes, and fault on them.
#if TAVRINE_X86_SSSE3_DISPATCH && !defined(_WIN32)
#define TAVRINE_X86_AVX2_DISPATCH 1
#define TAVRINE_TARGET_AVX2 [[gnu::target("avx2")]]
#else
#define TAVRINE_X86_AVX2_DISPATCH 0
#endif
