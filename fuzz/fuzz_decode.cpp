// ZOLT_Decode on arbitrary bytes. The first two input bytes choose the output
// capacity relative to the announced decoded length (smaller, equal, larger);
// the rest is the stream. Nothing may be written past the capacity, and a
// success must come with the length the block headers announce.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tavrine.h"

namespace {

constexpr std::uint8_t kGuard = 0xA5;
constexpr std::size_t kGuardBytes = 32;
constexpr std::uint32_t kCapacityLimit = 1u << 22;

std::uint32_t chooseCapacity(std::uint8_t mode, std::uint8_t amount, std::uint32_t announced) {
    switch (mode % 4) {
        case 0: return announced;
        case 1: return announced > amount ? announced - amount : 0;
        case 2: return announced + amount;
        default: return static_cast<std::uint32_t>(amount) * 129u;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t mode = data[0];
    const std::uint8_t amount = data[1];
    const std::uint8_t* stream = data + 2;
    const auto streamLength = static_cast<std::uint32_t>(size - 2);

    std::uint32_t announced = 0;
    const int walked = ZOLT_GetDecodedLength(2, stream, streamLength, &announced);
    std::uint32_t capacity = chooseCapacity(mode, amount, announced);
    if (capacity > kCapacityLimit) capacity = kCapacityLimit;

    std::vector<std::uint8_t> output(capacity + kGuardBytes, kGuard);
    std::uint32_t length = capacity;
    const int result = ZOLT_Decode(2, stream, streamLength, output.data(), &length, nullptr, nullptr);
    for (std::size_t i = capacity; i < output.size(); ++i) {
        if (output[i] != kGuard) std::abort();  // wrote past the capacity
    }
    if (result == 1 && (walked != 1 || length != announced)) std::abort();
    if (result == 0 && length > capacity) std::abort();
    return 0;
}
