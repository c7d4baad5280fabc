// What the processor running the code offers beyond the build's baseline, for
// the few steps that choose their code at run time (platform/target.h).
#pragma once

namespace tavrine::platform {

// Every x86 processor of the last dozen years has SSSE3; the baseline does
// not promise it. The C runtime reads the processor's features at start-up.
inline bool hasSsse3() noexcept { return __builtin_cpu_supports("ssse3") != 0; }

// Likewise SSE4.1, which every x86 processor since about 2010 has.
inline bool hasSse41() noexcept { return __builtin_cpu_supports("sse4.1") != 0; }

// AVX2, which most x86 processors since about 2015 have; the C runtime also
// checks that the system saves the wide registers.
inline bool hasAvx2() noexcept { return __builtin_cpu_supports("avx2") != 0; }

}  // namespace tavrine::platform
