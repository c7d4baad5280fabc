// What every exported function shares: the realigned entry on 32-bit x86 and
// the rule that nothing thrown inside ever crosses the C interface.
#pragma once

#include "tavrine.h"

// Hosts built with older compilers call with only 4-byte stack alignment; the
// exports realign the stack so that no code behind them depends on the caller.
#if defined(__i386__) && defined(__GNUC__)
#define TAVRINE_ENTRY __attribute__((force_align_arg_pointer))
#else
#define TAVRINE_ENTRY
#endif

namespace tavrine {

// Runs the body of an export; any exception (memory exhaustion above all)
// becomes the failure result 0.
template <typename Body>
int guardedExport(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return 0;
    }
}

}  // namespace tavrine
