#include "transform/induced_sort.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <utility>

#include "transform/name_sort.h"
#include "transform/work_arena.h"

namespace tavrine {

namespace {

using ByteTable = std::array<std::uint32_t, kByteValues>;

// The block as the passes see it: d[i] = block[i mod n] for i < 2n.
struct Block {
    const std::uint8_t* d;
    std::uint32_t n;

    std::uint32_t predecessorOf(std::uint32_t s) const noexcept { return s == 0 ? n - 1 : s - 1; }
};

// Selection by mask: GCC turns conditional expressions whose condition it
// guesses predictable into branches, and these conditions follow the data.
std::uint32_t maskOf(std::uint32_t condition) noexcept { return 0u - condition; }

std::uint32_t select(std::uint32_t mask, std::uint32_t ifSet, std::uint32_t ifClear) noexcept {
    return (ifSet & mask) | (ifClear & ~mask);
}

// Within bucket a the descending rotations come first (their successors are
// below them), then the ascending ones, ordered by their second byte; among
// those with second byte b > a the seeds come first (their successors are
// the descending rotations of bucket b).

// The sorted seeds, cut into groups of equal first and second bytes and
// listed by second byte: the seeds with first byte a and second byte b go
// into bucket a right after the ascending pass has placed the other
// ascending rotations with those two bytes, which happens when it has
// scanned bucket b. Each group is copied whole: one cursor update per
// group, where seed by seed the updates of one bucket would wait on each other.
class SeedGroups {
public:
    // Needs 2 * count + 2 words of workspace.
    SeedGroups(const std::uint8_t* d, const RotationStart* seeds, std::uint32_t count,
               std::uint32_t* work) noexcept
        : seeds_(seeds), firstOf_(work), bySecondByte_(work + count + 1) {
        // A group begins where the first two bytes differ from those of the
        // seed before; the starts are gathered without branches.
        std::uint32_t groups = 0;
        std::uint32_t previous = kNoPair;
        for (std::uint32_t k = 0; k < count; ++k) {
            const std::uint32_t pair = pairAt(d, seeds[k]);
            firstOf_[groups] = k;
            groups += static_cast<std::uint32_t>(pair != previous);
            previous = pair;
        }
        firstOf_[groups] = count;
        // Counting sort of the groups by their second byte.
        ByteTable perSecondByte{};
        for (std::uint32_t g = 0; g < groups; ++g) ++perSecondByte[secondByteOf(d, g)];
        std::uint32_t total = 0;
        for (std::uint32_t b = 0; b < kByteValues; ++b) {
            listStart_[b] = total;
            total += perSecondByte[b];
        }
        listStart_[kByteValues] = total;
        ByteTable next;
        std::copy_n(listStart_.begin(), kByteValues, next.begin());
        for (std::uint32_t g = 0; g < groups; ++g) bySecondByte_[next[secondByteOf(d, g)]++] = g;
        d_ = d;
    }

    // Places, below cursor[a] of each bucket a, its seeds with second byte b.
    void placeSeedsBefore(std::uint32_t b, RotationStart* rows, ByteTable& cursor) const noexcept {
        for (std::uint32_t k = listStart_[b]; k < listStart_[b + 1]; ++k) {
            const std::uint32_t g = bySecondByte_[k];
            const std::uint32_t first = firstOf_[g];
            const std::uint32_t size = firstOf_[g + 1] - first;
            const std::uint32_t a = d_[seeds_[first]];
            cursor[a] -= size;
            std::copy_n(seeds_ + first, size, rows + cursor[a]);
        }
    }

private:
    static constexpr std::uint32_t kNoPair = UINT32_MAX;

    static std::uint32_t pairAt(const std::uint8_t* d, std::uint32_t s) noexcept {
        return (static_cast<std::uint32_t>(d[s]) << 8) | d[s + 1];
    }

    std::uint32_t secondByteOf(const std::uint8_t* d, std::uint32_t g) const noexcept {
        return d[seeds_[firstOf_[g]] + 1];
    }

    const std::uint8_t* d_ = nullptr;
    const RotationStart* seeds_;
    std::uint32_t* firstOf_;       // group g is seeds firstOf_[g] .. firstOf_[g+1]-1
    std::uint32_t* bySecondByte_;  // the groups, ordered by second byte
    std::array<std::uint32_t, kByteValues + 1> listStart_{};
};


// Places every ascending rotation, scanning the buckets from the top down:
// an ascending rotation p that is not a seed sorts within its bucket as its
// successor p+1 does, and p+1 is ascending with a first byte at least that
// of p and a higher row, so the downward scan reads each row after it is
// final and writes p below all rows of its bucket placed so far. The rows of
// bucket b read by the scan are those from its end down to the lowest one
// written. Returns each bucket's first ascending row.
ByteTable placeAscendingRotations(Block block, RotationStart* rows, const BucketStarts& start,
                                  const SeedGroups& seeds) noexcept {
    const std::uint8_t* before = block.d + block.n - 1;  // before[s] is the byte ahead of rotation s
    const std::uint32_t n = block.n;
    ByteTable cursor;
    std::copy_n(start.begin() + 1, kByteValues, cursor.begin());
    for (std::uint32_t b = kByteValues; b-- > 0;) {
        // The scan stops at the lowest row written into bucket b, tracked here
        // as well as in cursor[b] so that the loop does not wait on memory.
        std::uint32_t lowest = cursor[b];
        for (std::uint32_t i = start[b + 1]; i > lowest;) {
            const std::uint32_t s = rows[--i];
            const std::uint32_t a = before[s];
            const std::uint32_t ascending = static_cast<std::uint32_t>(a <= b);
            const std::uint32_t slot = cursor[a] - ascending;
            cursor[a] = slot;
            rows[select(maskOf(ascending), slot, n)] = static_cast<RotationStart>(block.predecessorOf(s));
            lowest -= static_cast<std::uint32_t>(a == b);
        }
        seeds.placeSeedsBefore(b, rows, cursor);
    }
    return cursor;
}

// Places every descending rotation, scanning the rows from the bottom up: p
// sorts within its bucket as p+1 sorts overall, and p+1 is at a lower row,
// so the scan reads every row after it is final. Rotation p, the predecessor
// of the rotation at row i in bucket b, is descending when its first byte is
// above b, or equal to b while row i is descending. Each row read is final,
// so the scan also writes the last column, when asked for, and finds the row
// of rotation 0.
struct DescendingPass {
    ByteTable next;  // next row of each bucket's descending rotations
    std::uint32_t primaryIndex = 0;
};

// Rows first .. last-1, whose predecessors are descending when their first
// byte is at least `lowest`. With the last column written, the rows are not
// needed after the scan, and a predecessor that is not descending is
// written to next[a] all the same, which is not taken: if a < b, that row is
// in a lower bucket, and if a = b (row i ascending), the descending rows of
// bucket b are all placed; either way it is a row the scan has read.
// Without the last column the rows are the result, and slot n is the sink.
template <bool kWriteLastColumn>
void scanDescending(Block block, RotationStart* rows, std::uint8_t* lastColumn, std::uint32_t first,
                    std::uint32_t last, std::uint32_t lowest, DescendingPass& pass) noexcept {
    const std::uint8_t* before = block.d + block.n - 1;
    const std::uint32_t n = block.n;
    std::uint32_t primaryIndex = pass.primaryIndex;
    for (std::uint32_t i = first; i < last; ++i) {
        const std::uint32_t s = rows[i];
        const std::uint32_t a = before[s];
        const std::uint32_t descending = static_cast<std::uint32_t>(a >= lowest);
        const std::uint32_t slot = pass.next[a];
        pass.next[a] = slot + descending;
        const auto p = static_cast<RotationStart>(block.predecessorOf(s));
        if constexpr (kWriteLastColumn) {
            rows[slot] = p;
            lastColumn[i] = static_cast<std::uint8_t>(a);
        } else {
            rows[select(maskOf(descending), slot, n)] = p;
        }
        primaryIndex = s == 0 ? i : primaryIndex;
    }
    pass.primaryIndex = primaryIndex;
}

template <bool kWriteLastColumn>
std::uint32_t placeDescendingRotations(Block block, RotationStart* rows, std::uint8_t* lastColumn,
                                       const BucketStarts& start, const ByteTable& ascendingStart) noexcept {
    DescendingPass pass;
    std::copy_n(start.begin(), kByteValues, pass.next.begin());
    for (std::uint32_t b = 0; b < kByteValues; ++b) {
        scanDescending<kWriteLastColumn>(block, rows, lastColumn, start[b], ascendingStart[b], b, pass);
        scanDescending<kWriteLastColumn>(block, rows, lastColumn, ascendingStart[b], start[b + 1], b + 1, pass);
    }
    return pass.primaryIndex;
}

// Both passes from the sorted seeds; the rows, or the last column when it
// is given, are the result. Returns the row of rotation 0. `work` takes
// 2 * count + 2 words.
std::uint32_t placeFromSortedSeeds(Block block, RotationStart* rows, std::uint8_t* lastColumn,
                                   const BucketStarts& start, const RotationStart* seeds, std::uint32_t count,
                                   std::uint32_t* work) noexcept {
    const ByteTable ascendingStart =
        placeAscendingRotations(block, rows, start, SeedGroups(block.d, seeds, count, work));
    return lastColumn != nullptr
               ? placeDescendingRotations<true>(block, rows, lastColumn, start, ascendingStart)
               : placeDescendingRotations<false>(block, rows, nullptr, start, ascendingStart);
}

// Orders the seeds by their first two bytes: two stable counting passes, on
// the second byte and then the first.
void sortByFirstTwoBytes(Block block, RotationStart* seeds, std::uint32_t count, RotationStart* spare) noexcept {
    const auto countingPass = [&](const RotationStart* from, RotationStart* to, const std::uint8_t* key) {
        ByteTable next{};
        for (std::uint32_t k = 0; k < count; ++k) ++next[key[from[k]]];
        std::uint32_t total = 0;
        for (std::uint32_t b = 0; b < kByteValues; ++b) total += std::exchange(next[b], total);
        for (std::uint32_t k = 0; k < count; ++k) to[next[key[from[k]]]++] = from[k];
    };
    countingPass(seeds, spare, block.d + 1);
    countingPass(spare, seeds, block.d);
}

// After both passes from seeds ordered only by their first two bytes, the
// rows order every rotation by its bytes up to and including the first two
// of the next seed at or after it; those of a seed's successor reach to the
// next seed. Gathers the seeds in the order of their successors and then
// stably by first byte: the seeds in order of their seed substrings.
void orderSeedsBySubstring(Block block, const RotationStart* rows, const std::uint8_t* isSeed,
                           RotationStart* seeds, std::uint32_t count, RotationStart* spare) noexcept {
    std::uint32_t gathered = 0;
    for (std::uint32_t i = 0; i < block.n; ++i) {
        const std::uint32_t p = block.predecessorOf(rows[i]);
        spare[gathered] = static_cast<RotationStart>(p);
        gathered += isSeed[p];
    }
    assert(gathered == count);
    ByteTable next{};
    for (std::uint32_t k = 0; k < count; ++k) ++next[block.d[spare[k]]];
    std::uint32_t total = 0;
    for (std::uint32_t b = 0; b < kByteValues; ++b) total += std::exchange(next[b], total);
    for (std::uint32_t k = 0; k < count; ++k) seeds[next[block.d[spare[k]]]++] = spare[k];
}

// Whether the seed substrings of seeds s and t, which run to the next seed
// and one byte past it, are equal: same bytes and seeds at the same places.
bool sameSubstring(Block block, const std::uint8_t* isSeed, std::uint32_t s, std::uint32_t t) noexcept {
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

// Names the seeds, in order of their substrings, by the rank of their
// substring among the distinct ones; nameAt[s / 2] is the name of seed s
// (seeds are at least two apart). Returns the number of names.
std::uint32_t nameSeeds(Block block, const std::uint8_t* isSeed, const RotationStart* seeds, std::uint32_t count,
                        Name* nameAt) noexcept {
    std::uint32_t name = 0;
    nameAt[seeds[0] / 2] = 0;
    for (std::uint32_t k = 1; k < count; ++k) {
        name += sameSubstring(block, isSeed, seeds[k - 1], seeds[k]) ? 0 : 1;
        nameAt[seeds[k] / 2] = static_cast<Name>(name);
    }
    return name + 1;
}

Arenas arenasOf(const RotationWorkspace& ws, std::uint32_t n) noexcept {
    return {{ws.words, rotationSortWorkWords(n)},
            {ws.spare, rotationSortSpareStarts(n)},
            {ws.bytes, rotationSortWorkBytes(n)}};
}

}  // namespace

std::uint32_t placeRotationsFromSeeds(const RotationWorkspace& ws, const SeedScan& scan,
                                      std::uint32_t n) noexcept {
    return placeFromSortedSeeds({ws.doubled, n}, ws.rows, ws.lastColumn, scan.start, ws.seeds, scan.count,
                                ws.words);
}

void sortSeedsByInduction(const RotationWorkspace& ws, const SeedScan& scan, std::uint32_t n) noexcept {
    const std::uint32_t count = scan.count;
    if (count < 2) return;
    const Block block{ws.doubled, n};
    RotationStart* seeds = ws.seeds;
    Arenas arenas = arenasOf(ws, n);
    // What the string of names needs is taken first, to outlive the rest.
    Name* names = arenas.starts.take(2 * static_cast<std::size_t>(count) + 1);
    RotationStart* positionOf = arenas.starts.take(count + 1);
    RotationStart* namesRows = arenas.starts.take(count + 1);
    const Arenas::Mark scratch = arenas.mark();

    RotationStart* spare = arenas.starts.take(count + 1);
    sortByFirstTwoBytes(block, seeds, count, spare);
    placeFromSortedSeeds(block, ws.rows, nullptr, scan.start, seeds, count,
                         arenas.words.take(2 * static_cast<std::size_t>(count) + 2));
    std::uint8_t* isSeed = arenas.bytes.take(n);
    std::fill_n(isSeed, n, std::uint8_t{0});
    for (std::uint32_t k = 0; k < count; ++k) isSeed[seeds[k]] = 1;
    orderSeedsBySubstring(block, ws.rows, isSeed, seeds, count, spare);
    Name* nameAt = arenas.starts.take(n / 2 + 1);
    const std::uint32_t nameCount = nameSeeds(block, isSeed, seeds, count, nameAt);
    if (nameCount == count) return;

    // The string of names, in the order of the seeds in the block, doubled;
    // its sorted rotations give the order of the seeds.
    std::uint32_t k = 0;
    for (std::uint32_t p = 0; p < n; ++p) {
        names[k] = nameAt[p / 2];
        positionOf[k] = static_cast<RotationStart>(p);
        k += isSeed[p];
    }
    std::copy_n(names, count, names + count);
    arenas.release(scratch);
    sortRotationsOfNames(names, count, nameCount, namesRows, arenas);
    for (std::uint32_t i = 0; i < count; ++i) seeds[i] = positionOf[namesRows[i]];
}

}  // namespace tavrine
