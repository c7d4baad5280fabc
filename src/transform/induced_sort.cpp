#include "transform/induced_sort.h"

#include <algorithm>
#include <array>
#include <cassert>

#include "transform/induced_placement.h"
#include "transform/name_sort.h"
#include "transform/reduced_string.h"
#include "transform/work_arena.h"

namespace tavrine {

namespace {

// Writes the seeds as findSeeds lists them into inOrder, in the order they
// stand in the block. findSeeds goes from the end of the block to the start,
// each stretch's seeds ascending; those stretches are the list's ascending
// runs, taken here from the last to the first.
void listInBlockOrder(const RotationStart* seeds, std::uint32_t count, RotationStart* inOrder) noexcept {
    std::uint32_t written = 0;
    for (std::uint32_t end = count; end > 0;) {
        std::uint32_t begin = end - 1;
        while (begin > 0 && seeds[begin - 1] < seeds[begin]) --begin;
        std::copy(seeds + begin, seeds + end, inOrder + written);
        written += end - begin;
        end = begin;
    }
}

// Where the seeds of each byte value begin, ordered by their first byte and
// by their second. Counted in one pass with two sets of counters, so that
// runs of equal bytes make two chains of increments instead of one.
struct SeedBuckets {
    BucketStarts byFirstByte;
    BucketStarts bySecondByte;
};

SeedBuckets countSeedBuckets(DoubledBlock block, const RotationStart* seeds, std::uint32_t count) noexcept {
    const std::uint8_t* x = block.d;
    std::array<ByteCounts, 2> first{};
    std::array<ByteCounts, 2> second{};
    for (std::uint32_t k = 0; k < count; ++k) {
        const std::uint32_t set = k & 1;
        ++first[set][x[seeds[k]]];
        ++second[set][x[seeds[k] + 1]];
    }
    for (std::uint32_t b = 0; b < kByteValues; ++b) {
        first[0][b] += first[1][b];
        second[0][b] += second[1][b];
    }
    return {startsFromCounts(first[0]), startsFromCounts(second[0])};
}

// Orders the seeds by their first two bytes: two stable counting passes, on
// the second byte and then the first.
void sortByFirstTwoBytes(DoubledBlock block, RotationStart* seeds, std::uint32_t count,
                         const SeedBuckets& buckets, RotationStart* spare) noexcept {
    scatterByByte(seeds, spare, count, block.d + 1, buckets.bySecondByte);
    scatterByByte(spare, seeds, count, block.d, buckets.byFirstByte);
}

// Whether the seed substrings of seeds s and t, which run to the next seed
// and one byte past it, are equal: same bytes and seeds at the same places.
bool sameSubstring(DoubledBlock block, const std::uint8_t* isSeed, std::uint32_t s, std::uint32_t t) noexcept {
    const std::uint8_t* x = block.d;
    if (x[s] != x[t]) return false;
    for (std::uint32_t j = 1;; ++j) {
        const std::uint32_t a = s + j;
        const std::uint32_t b = t + j;
        if (x[a] != x[b]) return false;
        const std::uint8_t seedA = isSeed[a >= block.n ? a - block.n : a];
        const std::uint8_t seedB = isSeed[b >= block.n ? b - block.n : b];
        if (seedA != seedB) return false;
        if (seedA != 0) return x[a + 1] == x[b + 1];
    }
}

Arenas arenasOf(const RotationWorkspace& ws, std::uint32_t n) noexcept {
    return {{ws.words, rotationSortWorkWords(n)},
            {ws.spare, rotationSortSpareStarts(n)},
            {ws.bytes, rotationSortWorkBytes(n)}};
}

}  // namespace

void sortSeedsByInduction(const RotationWorkspace& ws, const SeedScan& scan, std::uint32_t n) noexcept {
    const std::uint32_t count = scan.count;
    if (count < 2) return;
    const DoubledBlock block{ws.doubled, n};
    RotationStart* seeds = ws.seeds;
    Arenas arenas = arenasOf(ws, n);
    // What the reduced string needs is taken first, to outlive the rest.
    Name* reduced = arenas.starts.take(2 * static_cast<std::size_t>(count) + 1);
    RotationStart* positionOf = arenas.starts.take(count + 1);
    RotationStart* reducedRows = arenas.starts.take(count + 1);
    // The seeds in block order, for the reduced string, before they are sorted.
    listInBlockOrder(seeds, count, positionOf);
    const Arenas::Mark scratch = arenas.mark();

    RotationStart* spare = arenas.starts.take(count + 1);
    const SeedBuckets buckets = countSeedBuckets(block, seeds, count);
    std::uint8_t* isSeed = arenas.bytes.take(n);
    std::fill_n(isSeed, n, std::uint8_t{0});
    for (std::uint32_t k = 0; k < count; ++k) isSeed[seeds[k]] = 1;
    sortByFirstTwoBytes(block, seeds, count, buckets, spare);
    // After both passes from seeds ordered only by their first two bytes, the
    // rows order every rotation by its bytes up to and including the first
    // two of the next seed at or after it; those of a seed's successor reach
    // to the next seed. The descending pass gathers the seeds in the order of
    // their successors, and a stable pass by first byte then puts them in
    // order of their seed substrings.
    [[maybe_unused]] const std::uint32_t gathered =
        gatherSeedsBySuccessor(block, ws.rows, scan.start, seeds, count,
                               arenas.words.take(2 * static_cast<std::size_t>(count) + 2), isSeed, spare);
    assert(gathered == count);
    scatterByByte(spare, seeds, count, block.d, buckets.byFirstByte);
    Name* nameAt = arenas.starts.take(n / 2 + 1);
    const auto sameSeedSubstring = [block, isSeed](std::uint32_t s, std::uint32_t t) {
        return sameSubstring(block, isSeed, s, t);
    };
    const std::uint32_t nameCount = nameBySubstring(seeds, count, sameSeedSubstring, nameAt);
    if (nameCount == count) return;

    buildReducedString(nameAt, positionOf, count, reduced);
    arenas.release(scratch);
    sortRotationsOfNames(reduced, count, nameCount, reducedRows, arenas);
    for (std::uint32_t i = 0; i < count; ++i) seeds[i] = positionOf[reducedRows[i]];
}

}  // namespace tavrine
