// The production block sort against the literal reference, and the inverse
// against the block, on arbitrary blocks. The first input byte, when odd,
// turns the rest into a periodic block (the hard case for tie order).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "stream/codec_context.h"
#include "support/reference_block_sort.h"
#include "transform/block_sort.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    std::vector<std::uint8_t> block;
    if ((data[0] & 1) != 0) {
        // Repeat the pattern up to a length taken from the second byte.
        const std::size_t patternLength = size - 2 == 0 ? 1 : size - 2;
        const std::size_t length = patternLength * (1 + data[1] % 16) + data[1] % 3;
        for (std::size_t i = 0; i < length && i < tavrine::kMaxBlockLength; ++i) {
            block.push_back(size > 2 ? data[2 + i % patternLength] : data[1]);
        }
    } else {
        block.assign(data + 1, data + std::min<std::size_t>(size, tavrine::kMaxBlockLength + 1));
    }
    const auto n = static_cast<std::uint32_t>(block.size());
    if (n == 0) return 0;

    std::vector<std::uint32_t> scratch(tavrine::test::kScratchSlots);
    std::vector<std::uint8_t> expected(n + 2);
    tavrine::test::forwardBlockSortReference(expected.data(), block.data(), n, scratch.data());

    tavrine::CodecContext context;
    std::vector<std::uint8_t> record(n + 2);
    context.ForwardBlockSort(record.data(), block.data(), n);
    if (record != expected) std::abort();

    std::vector<std::uint8_t> restored(n);
    tavrine::test::inverseBlockSortOwnTable(restored.data(), record.data(), n + 2);
    if (restored != block) std::abort();
    return 0;
}
