// Arbitrary data, variant and capacity through ZOLT_Encode and ZOLT_Decode:
// encoding succeeds whenever the capacity is at least the maximum encoded
// length, never writes past the capacity, and whatever it writes decodes to
// the data.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tavrine.h"

namespace {
constexpr std::uint8_t kGuard = 0x5A;
constexpr std::size_t kGuardBytes = 32;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::uint32_t variant = (data[0] & 1) != 0 ? 5 : 0;
    const bool ample = (data[0] & 2) != 0;
    const std::uint32_t shortfall = data[1] | (static_cast<std::uint32_t>(data[2]) << 8);
    const std::uint8_t* src = data + 3;
    const auto srcLen = static_cast<std::uint32_t>(size - 3);

    std::uint32_t bound = 0;
    if (ZOLT_GetMaximumEncodedLength(2, variant, srcLen, &bound) != 1) std::abort();
    const std::uint32_t capacity = ample ? bound : (shortfall < bound ? bound - shortfall : 0);

    std::vector<std::uint8_t> stream(capacity + kGuardBytes, kGuard);
    std::uint32_t streamLength = capacity;
    const int encoded = ZOLT_Encode(2, variant, srcLen ? src : nullptr, srcLen, stream.data(),
                                    &streamLength, nullptr, nullptr);
    for (std::size_t i = capacity; i < stream.size(); ++i) {
        if (stream[i] != kGuard) std::abort();
    }
    if (capacity >= bound && encoded != 1) std::abort();
    if (encoded != 1) {
        if (streamLength != capacity) std::abort();  // the length word stays untouched
        return 0;
    }
    if (streamLength > capacity) std::abort();

    std::vector<std::uint8_t> restored(srcLen + 1);
    std::uint32_t restoredLength = srcLen;
    if (ZOLT_Decode(2, stream.data(), streamLength, restored.data(), &restoredLength, nullptr,
                    nullptr) != 1) {
        std::abort();
    }
    if (restoredLength != srcLen || std::memcmp(restored.data(), src, srcLen) != 0) std::abort();
    return 0;
}
