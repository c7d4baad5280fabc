// What every tavrine_ export shares: the realigned entry of export.h, the
// codec's outcomes as statuses, and the rule that nothing thrown inside
// crosses the C interface.
#pragma once

#include <new>
#include <system_error>

#include "interface/export.h"
#include "stream/codec_context.h"
#include "tavrine_api.h"

namespace tavrine::api {

constexpr tavrine_status toStatus(CallStatus status) noexcept {
    switch (status) {
        case CallStatus::ok: return TAVRINE_OK;
        case CallStatus::corrupt: return TAVRINE_CORRUPT;
        case CallStatus::truncated: return TAVRINE_TRUNCATED;
        case CallStatus::outputTooSmall: return TAVRINE_OUTPUT_TOO_SMALL;
        case CallStatus::aborted: return TAVRINE_ABORTED;
    }
    return TAVRINE_CORRUPT;
}

// Runs the body of an export. Memory exhaustion becomes its status; so does
// any other failure to obtain resources (a thread that cannot be started),
// the only other thing the library's code throws.
template <typename Body>
tavrine_status guardedCall(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return TAVRINE_OUT_OF_MEMORY;
    }
}

}  // namespace tavrine::api
