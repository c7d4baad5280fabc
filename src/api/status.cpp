// The status texts and the library's version.
#include "api/api_call.h"

namespace {

#define TAVRINE_TEXT(x) #x
#define TAVRINE_NUMBER_TEXT(x) TAVRINE_TEXT(x)
constexpr const char* kVersion = TAVRINE_NUMBER_TEXT(TAVRINE_VERSION_MAJOR) "." TAVRINE_NUMBER_TEXT(
    TAVRINE_VERSION_MINOR) "." TAVRINE_NUMBER_TEXT(TAVRINE_VERSION_PATCH);
#undef TAVRINE_NUMBER_TEXT
#undef TAVRINE_TEXT

}  // namespace

extern "C" {

TAVRINE_ENTRY const char* tavrine_status_text(tavrine_status status) noexcept {
    switch (status) {
        case TAVRINE_OK: return "ok";
        case TAVRINE_CORRUPT: return "corrupt data";
        case TAVRINE_TRUNCATED: return "truncated data";
        case TAVRINE_OUTPUT_TOO_SMALL: return "output buffer too small";
        case TAVRINE_OUT_OF_MEMORY: return "out of memory";
        case TAVRINE_ABORTED: return "aborted";
        case TAVRINE_BAD_ARGUMENT: return "bad argument";
        case TAVRINE_TOO_LARGE: return "too large";
        case TAVRINE_IO_ERROR: return "read or write error";
        case TAVRINE_UNKNOWN_FORMAT: return "unknown format";
        case TAVRINE_MEMORY_LIMIT: return "over the memory limit";
    }
    return "unknown status";
}

TAVRINE_ENTRY const char* tavrine_version(void) noexcept { return kVersion; }

}  // extern "C"
