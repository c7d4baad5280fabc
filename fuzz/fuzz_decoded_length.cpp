// ZOLT_GetDecodedLength on arbitrary bytes: it terminates, reads only the
// stream, and on success the announced length is what a full walk sums.
#include <cstdint>
#include <cstdlib>

#include "tavrine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint32_t length = 0xDEADBEEF;
    const auto streamLength = static_cast<std::uint32_t>(size);
    const int result = ZOLT_GetDecodedLength(2, size ? data : nullptr, streamLength, &length);
    if (size == 0 && (result != 1 || length != 0)) std::abort();

    // Independent walk: success exactly when the headers tile the input.
    std::uint64_t consumed = 0;
    std::uint64_t total = 0;
    bool tiles = true;
    while (consumed < size) {
        if (size - consumed <= 4) { tiles = false; break; }
        const std::uint32_t blockSize = data[consumed] | (data[consumed + 1] << 8);
        const std::uint32_t decoded = data[consumed + 2] | (data[consumed + 3] << 8);
        if (blockSize == 0 || consumed + blockSize > size) { tiles = false; break; }
        consumed += blockSize;
        total += decoded;
    }
    if (tiles != (result == 1)) std::abort();
    if (result == 1 && length != total) std::abort();
    return 0;
}
