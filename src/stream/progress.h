// The host's progress callback: nonzero continues, 0 aborts the call.
#pragma once

#include <cstdint>

#include "tavrine.h"

namespace tavrine {

// True when the call may go on: no callback, or the callback said so.
inline bool reportProgress(ZOLT_ProgressCallback callback, void* user, std::uint32_t done,
                           std::uint32_t total) {
    return callback == nullptr || callback(user, done, total) != 0;
}

}  // namespace tavrine
