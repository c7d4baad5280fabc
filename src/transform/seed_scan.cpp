#include "transform/seed_scan.h"

#include <algorithm>
#include <bit>

#include "platform/target.h"

#if TAVRINE_X86_SSE2
#include "transform/x86/pair_masks_sse2.h"
#endif

namespace tavrine {

namespace {

// The block is scanned 64 positions at a time, as bit masks: bit k of a mask
// stands for position base + k.
constexpr std::uint32_t kWordPositions = 64;

// Compares the pairs at the first `count` positions from p; reads p[0 .. count].
PairMasks comparePairs(const std::uint8_t* p, std::uint32_t count) noexcept {
    PairMasks masks{0, 0};
    for (std::uint32_t k = 0; k < count; ++k) {
        masks.below |= static_cast<std::uint64_t>(p[k] < p[k + 1]) << k;
        masks.equal |= static_cast<std::uint64_t>(p[k] == p[k + 1]) << k;
    }
    return masks;
}

// The same for a whole word of positions; reads p[0 .. 64].
PairMasks compareWordOfPairs(const std::uint8_t* p) noexcept {
#if TAVRINE_X86_SSE2
    return x86::compareWordOfPairs(p);
#else
    return comparePairs(p, kWordPositions);
#endif
}

// The descending positions among the first `count` of a word, given whether
// position base + count is descending: a position is descending when its
// byte is above the next, or equal to it and the next position descending.
// The type after the word enters at its top position; the second rule then
// carries types down through runs of equal bytes, in doubling steps that
// reach across the whole word (1 + 2 + ... + 32 = 63 positions).
std::uint64_t descendingPositions(PairMasks masks, std::uint32_t count, bool nextDescending) noexcept {
    const std::uint64_t top = std::uint64_t{1} << (count - 1);
    const std::uint64_t valid = top | (top - 1);
    std::uint64_t descending = ~(masks.below | masks.equal) & valid;
    if (nextDescending) descending |= masks.equal & top;
    std::uint64_t carries = masks.equal & valid;  // bit k: positions k .. k+step-1 all pass on the type
    for (std::uint32_t step = 1; step < kWordPositions && carries != 0; step *= 2) {
        descending |= carries & (descending >> step);
        carries &= carries >> step;
    }
    return descending;
}

// Whether rotation 0 is descending: decided by the first pair of different bytes.
bool firstRotationDescending(const std::uint8_t* d) noexcept {
    std::uint32_t i = 0;
    while (d[i] == d[i + 1]) ++i;
    return d[i] > d[i + 1];
}

}  // namespace

SeedScan findSeeds(const std::uint8_t* d, std::uint32_t n, RotationStart* seeds) noexcept {
    SeedScan scan{};
    scan.start = bucketStarts(d, n);

    // Words from the end of the block down, each handing the type of its
    // first position to the word before; rotation n is rotation 0.
    bool nextDescending = firstRotationDescending(d);
    std::uint32_t seedCount = 0;
    for (std::uint32_t base = (n - 1) / kWordPositions * kWordPositions;; base -= kWordPositions) {
        const std::uint32_t positions = std::min(kWordPositions, n - base);
        const PairMasks masks = positions == kWordPositions ? compareWordOfPairs(d + base)
                                                            : comparePairs(d + base, positions);
        const std::uint64_t descending = descendingPositions(masks, positions, nextDescending);
        // A seed rises to a descending successor.
        const std::uint64_t successorDescending =
            (descending >> 1) | (std::uint64_t{nextDescending} << (positions - 1));
        std::uint64_t seedMask = masks.below & successorDescending;
        for (; seedMask != 0; seedMask &= seedMask - 1) {
            seeds[seedCount++] = static_cast<RotationStart>(base + static_cast<std::uint32_t>(std::countr_zero(seedMask)));
        }
        nextDescending = (descending & 1) != 0;
        if (base == 0) break;
    }
    scan.count = seedCount;
    return scan;
}

}  // namespace tavrine
