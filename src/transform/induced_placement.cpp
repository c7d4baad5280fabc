#include "transform/induced_placement.h"

#include <algorithm>
#include <array>

#include "platform/branchless.h"
#include "platform/compiler.h"

namespace tavrine {

namespace {

// Within bucket a the descending rotations come first (their successors are
// below them), then the ascending ones, ordered by their second byte; among
// those with second byte b > a the seeds come first (their successors are
// the descending rotations of bucket b).
//
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
        ByteCounts perSecondByte{};
        for (std::uint32_t g = 0; g < groups; ++g) ++perSecondByte[secondByteOf(d, g)];
        listStart_ = startsFromCounts(perSecondByte);
        ByteCounts next;
        std::copy_n(listStart_.begin(), kByteValues, next.begin());
        for (std::uint32_t g = 0; g < groups; ++g) bySecondByte_[next[secondByteOf(d, g)]++] = g;
        d_ = d;
    }

    // Places, below cursor[a] of each bucket a, its seeds with second byte b.
    void placeSeedsBefore(std::uint32_t b, RotationStart* rows, ByteCounts& cursor) const noexcept {
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
    BucketStarts listStart_{};     // second byte b: bySecondByte_[listStart_[b] .. listStart_[b+1]-1]
};

// The byte values of the block lie in first .. last: the buckets outside are
// empty, and no seed has its second byte there, so the passes skip them.
struct ByteRange {
    std::uint32_t first;
    std::uint32_t last;
};

ByteRange occupiedBuckets(const BucketStarts& start, std::uint32_t n) noexcept {
    ByteRange range{0, kByteValues - 1};
    while (start[range.first + 1] == 0) ++range.first;
    while (start[range.last] == n) --range.last;
    return range;
}

// Places every ascending rotation, scanning the buckets from the top down:
// an ascending rotation p that is not a seed sorts within its bucket as its
// successor p+1 does, and p+1 is ascending with a first byte at least that
// of p and a higher row, so the downward scan reads each row after it is
// final and writes p below all rows of its bucket placed so far. The rows of
// bucket b read by the scan are those from its end down to the lowest one
// written. Returns each bucket's first ascending row. Out of line: inlined,
// its loop spills the row and byte pointers (6 % more instructions).
TAVRINE_NOINLINE ByteCounts placeAscendingRotations(DoubledBlock block, RotationStart* rows,
                                   const BucketStarts& start, ByteRange bytes,
                                   const SeedGroups& seeds) noexcept {
    const std::uint8_t* before = block.d + block.n - 1;  // before[s] is the byte ahead of rotation s
    const std::uint32_t n = block.n;
    ByteCounts cursor;
    std::copy_n(start.begin() + 1, kByteValues, cursor.begin());
    for (std::uint32_t b = bytes.last + 1; b-- > bytes.first;) {
        // The scan stops at the lowest row written into bucket b, tracked here
        // as well as in cursor[b] so that the loop does not wait on memory.
        std::uint32_t lowest = cursor[b];
        for (std::uint32_t i = start[b + 1]; i > lowest;) {
            const std::uint32_t s = rows[--i];
            const std::uint32_t a = before[s];
            const std::uint32_t ascending = static_cast<std::uint32_t>(a <= b);
            const std::uint32_t slot = cursor[a] - ascending;
            cursor[a] = slot;
            const auto p = static_cast<RotationStart>(block.predecessorOf(s));
            rows[platform::selectIf(ascending != 0, slot, n)] = p;
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
    ByteCounts next;  // next row of each bucket's descending rotations
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
void scanDescending(DoubledBlock block, RotationStart* rows, std::uint8_t* lastColumn,
                    std::uint32_t first, std::uint32_t last, std::uint32_t lowest,
                    DescendingPass& pass) noexcept {
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
            rows[platform::selectIf(descending != 0, slot, n)] = p;
        }
        primaryIndex = s == 0 ? i : primaryIndex;
    }
    pass.primaryIndex = primaryIndex;
}

template <bool kWriteLastColumn>
std::uint32_t placeDescendingRotations(DoubledBlock block, RotationStart* rows,
                                       std::uint8_t* lastColumn, const BucketStarts& start,
                                       ByteRange bytes, const ByteCounts& ascendingStart) noexcept {
    DescendingPass pass;
    std::copy_n(start.begin(), kByteValues, pass.next.begin());
    for (std::uint32_t b = bytes.first; b <= bytes.last; ++b) {
        scanDescending<kWriteLastColumn>(block, rows, lastColumn, start[b], ascendingStart[b], b,
                                         pass);
        scanDescending<kWriteLastColumn>(block, rows, lastColumn, ascendingStart[b], start[b + 1],
                                         b + 1, pass);
    }
    return pass.primaryIndex;
}

}  // namespace

std::uint32_t induceFromSeeds(DoubledBlock block, RotationStart* rows, std::uint8_t* lastColumn,
                              const BucketStarts& start, const RotationStart* seeds,
                              std::uint32_t count, std::uint32_t* work) noexcept {
    const ByteRange bytes = occupiedBuckets(start, block.n);
    const ByteCounts ascendingStart = placeAscendingRotations(
        block, rows, start, bytes, SeedGroups(block.d, seeds, count, work));
    return lastColumn != nullptr
               ? placeDescendingRotations<true>(block, rows, lastColumn, start, bytes, ascendingStart)
               : placeDescendingRotations<false>(block, rows, nullptr, start, bytes,
                                                 ascendingStart);
}

std::uint32_t placeRotationsFromSeeds(const RotationWorkspace& ws, const SeedScan& scan,
                                      std::uint32_t n) noexcept {
    return induceFromSeeds({ws.doubled, n}, ws.rows, ws.lastColumn, scan.start, ws.seeds,
                           scan.count, ws.words);
}

// The induced sort's first step needs no rows afterwards, only the seeds
// among the predecessors of the rows, in row order. It has a descending scan
// of its own, defined after the others so that they keep their code and
// their place.
namespace {

// Rows first .. last-1 as in scanDescending with the last column, writing
// instead the predecessors that are seeds to gathered[], in row order.
std::uint32_t gatherSeedsDescending(DoubledBlock block, RotationStart* rows, const std::uint8_t* isSeed,
                                    std::uint32_t first, std::uint32_t last, std::uint32_t lowest,
                                    ByteCounts& next, RotationStart* gathered, std::uint32_t taken) noexcept {
    const std::uint8_t* before = block.d + block.n - 1;
    for (std::uint32_t i = first; i < last; ++i) {
        const std::uint32_t s = rows[i];
        const std::uint32_t a = before[s];
        const std::uint32_t slot = next[a];
        next[a] = slot + static_cast<std::uint32_t>(a >= lowest);
        const auto p = static_cast<RotationStart>(block.predecessorOf(s));
        rows[slot] = p;
        gathered[taken] = p;
        taken += isSeed[p];
    }
    return taken;
}

}  // namespace

std::uint32_t gatherSeedsBySuccessor(DoubledBlock block, RotationStart* rows, const BucketStarts& start,
                                     const RotationStart* seeds, std::uint32_t count, std::uint32_t* work,
                                     const std::uint8_t* isSeed, RotationStart* gathered) noexcept {
    const ByteRange bytes = occupiedBuckets(start, block.n);
    const ByteCounts ascendingStart = placeAscendingRotations(
        block, rows, start, bytes, SeedGroups(block.d, seeds, count, work));
    ByteCounts next;
    std::copy_n(start.begin(), kByteValues, next.begin());
    std::uint32_t taken = 0;
    for (std::uint32_t b = bytes.first; b <= bytes.last; ++b) {
        taken = gatherSeedsDescending(block, rows, isSeed, start[b], ascendingStart[b], b, next,
                                      gathered, taken);
        taken = gatherSeedsDescending(block, rows, isSeed, ascendingStart[b], start[b + 1], b + 1,
                                      next, gathered, taken);
    }
    return taken;
}

}  // namespace tavrine
