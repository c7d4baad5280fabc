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
