#include "transform/induced_sort.h"

#include <algorithm>
#include <cassert>

#include "transform/induced_placement.h"
#include "transform/name_sort.h"
#include "transform/reduced_string.h"
#include "transform/work_arena.h"

namespace tavrine {

namespace {

// Orders the seeds by their first two bytes: two stable counting passes, on
// the second byte and then the first.
void sortByFirstTwoBytes(DoubledBlock block, RotationStart* seeds, std::uint32_t count,
                         RotationStart* spare) noexcept {
    stableSortByByte(seeds, spare, count, block.d + 1);
    stableSortByByte(spare, seeds, count, block.d);
}

// After both passes from seeds ordered only by their first two bytes, the
// rows order every rotation by its bytes up to and including the first two
// of the next seed at or after it; those of a seed's successor reach to the
// next seed. Gathers the seeds in the order of their successors and then
// stably by first byte: the seeds in order of their seed substrings.
void orderSeedsBySubstring(DoubledBlock block, const RotationStart* rows, const std::uint8_t* isSeed,
                           RotationStart* seeds, std::uint32_t count, RotationStart* spare) noexcept {
    std::uint32_t gathered = 0;
    for (std::uint32_t i = 0; i < block.n; ++i) {
        const std::uint32_t p = block.predecessorOf(rows[i]);
        spare[gathered] = static_cast<RotationStart>(p);
        gathered += isSeed[p];
    }
    assert(gathered == count);
    stableSortByByte(spare, seeds, count, block.d);
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
    const Arenas::Mark scratch = arenas.mark();

    RotationStart* spare = arenas.starts.take(count + 1);
    sortByFirstTwoBytes(block, seeds, count, spare);
    induceFromSeeds(block, ws.rows, nullptr, scan.start, seeds, count,
                    arenas.words.take(2 * static_cast<std::size_t>(count) + 2));
    std::uint8_t* isSeed = arenas.bytes.take(n);
    std::fill_n(isSeed, n, std::uint8_t{0});
    for (std::uint32_t k = 0; k < count; ++k) isSeed[seeds[k]] = 1;
    orderSeedsBySubstring(block, ws.rows, isSeed, seeds, count, spare);
    Name* nameAt = arenas.starts.take(n / 2 + 1);
    const auto sameSeedSubstring = [block, isSeed](std::uint32_t s, std::uint32_t t) {
        return sameSubstring(block, isSeed, s, t);
    };
    const std::uint32_t nameCount = nameBySubstring(seeds, count, sameSeedSubstring, nameAt);
    if (nameCount == count) return;

    const auto marked = [isSeed](std::uint32_t p) { return std::uint32_t{isSeed[p]}; };
    buildReducedString(n, nameAt, marked, count, reduced, positionOf);
    arenas.release(scratch);
    sortRotationsOfNames(reduced, count, nameCount, reducedRows, arenas);
    for (std::uint32_t i = 0; i < count; ++i) seeds[i] = positionOf[reducedRows[i]];
}

}  // namespace tavrine
