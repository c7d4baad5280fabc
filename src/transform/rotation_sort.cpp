#include "transform/rotation_sort.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "transform/broken_period_sort.h"
#include "transform/induced_placement.h"
#include "transform/induced_sort.h"
#include "transform/seed_scan.h"
#include "transform/seed_sort.h"
#include "transform/short_block_sort.h"

namespace tavrine {

namespace {

// Blocks that repeat a short pattern over long stretches (one changed byte,
// or a period that does not divide the block) defeat comparison sorting; two
// windows that both repeat with the same short period send a block straight to
// the induced sort, before any work that would be thrown away.
constexpr std::uint32_t kPeriodWindowBytes = 512;
constexpr std::uint32_t kLongestWindowPeriod = 64;

bool repeatsShortPeriod(const std::uint8_t* d, std::uint32_t n) noexcept {
    if (n < 4 * kPeriodWindowBytes) return false;
    const std::uint32_t middle = n / 2;
    for (std::uint32_t period = 2; period <= kLongestWindowPeriod; ++period) {
        if (std::memcmp(d, d + period, kPeriodWindowBytes) == 0 &&
            std::memcmp(d + middle, d + middle + period, kPeriodWindowBytes) == 0) {
            return true;
        }
    }
    return false;
}

// A short block that repeats itself at a short distance over 16 bytes or
// more (two words in a row equal to the two a few bytes on: a run, a short
// period) ties so many rotations beyond the short sort's reach that the
// short sort would mostly give up after sorting; it goes to the general
// methods at once. The doubled block holds the words read past the block.
// Up to kRepeatsCheckedAbove bytes the short sort costs so little that the
// check would cost more than the give-ups it saves.
constexpr std::uint32_t kLongestRepeatDistance = 8;
constexpr std::uint32_t kRepeatsCheckedAbove = 64;

bool repeatsAtShortDistance(const std::uint8_t* d, std::uint32_t n) noexcept {
    for (std::uint32_t distance = 1; distance <= kLongestRepeatDistance; ++distance) {
        bool previousEqual = false;
        for (std::uint32_t at = 0; at + kWordBytes <= n; at += kWordBytes) {
            const bool equal = loadWord(d + at) == loadWord(d + at + distance);
            if (equal && previousEqual) return true;
            previousEqual = equal;
        }
    }
    return false;
}

// A block of one byte has one rotation.
std::uint32_t sortSingleRotation(const RotationWorkspace& ws) noexcept {
    ws.rows[0] = 0;
    if (ws.lastColumn != nullptr) ws.lastColumn[0] = ws.doubled[0];
    return 0;
}

}  // namespace

std::uint32_t sortPrimitiveRotationsByComparison(const RotationWorkspace& ws,
                                                 std::uint32_t n) noexcept {
    if (n == 1) return sortSingleRotation(ws);
    if (repeatsShortPeriod(ws.doubled, n)) return kSortAbandoned;
    const SeedScan scan = findSeeds(ws.doubled, n, ws.seeds);
    assert(seedSortWorkWords(scan.count) <= rotationSortWorkWords(n));
    if (!sortSeedsByComparison(ws.doubled, n, ws.seeds, scan.count, ws.words)) return kSortAbandoned;
    return placeRotationsFromSeeds(ws, scan, n);
}

std::uint32_t sortPrimitiveRotationsByInduction(const RotationWorkspace& ws,
                                                std::uint32_t n) noexcept {
    if (n == 1) return sortSingleRotation(ws);
    const SeedScan scan = findSeeds(ws.doubled, n, ws.seeds);
    sortSeedsByInduction(ws, scan, n);
    return placeRotationsFromSeeds(ws, scan, n);
}

std::uint32_t sortPrimitiveRotations(const RotationWorkspace& ws, std::uint32_t n) noexcept {
    std::uint32_t primaryIndex = sortBrokenPeriodRotations(ws, n);
    if (primaryIndex == kSortAbandoned && n <= kShortBlockLength &&
        (n <= kRepeatsCheckedAbove || !repeatsAtShortDistance(ws.doubled, n))) {
        primaryIndex = sortShortBlockRotations(ws, n);
    }
    if (primaryIndex == kSortAbandoned) primaryIndex = sortPrimitiveRotationsByComparison(ws, n);
    return primaryIndex != kSortAbandoned ? primaryIndex : sortPrimitiveRotationsByInduction(ws, n);
}

}  // namespace tavrine
