#include "transform/rotation_sort.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "transform/seed_scan.h"
#include "transform/seed_sort.h"
#include "transform/suffix_array.h"

namespace tavrine {

namespace {

// Within bucket a the descending rotations come first (their successors are
// below them), then the ascending ones, ordered by their second byte; among
// those with second byte b > a the seeds come first (their successors are the
// descending rotations of bucket b).

// Selection by mask: GCC turns conditional expressions whose condition it
// guesses predictable into branches, and these conditions follow the data.
std::uint32_t maskOf(std::uint32_t condition) noexcept { return 0u - condition; }

std::uint32_t select(std::uint32_t mask, std::uint32_t ifSet, std::uint32_t ifClear) noexcept {
    return (ifSet & mask) | (ifClear & ~mask);
}

std::uint32_t predecessorOf(std::uint32_t s, std::uint32_t n) noexcept {
    return s == 0 ? n - 1 : s - 1;
}

using ByteTable = std::array<std::uint32_t, kByteValues>;

// The sorted seeds, cut into groups of equal first and second bytes and
// listed by second byte: the seeds with first byte a and second byte b go
// into bucket a right after the ascending pass has placed the other
// ascending rotations with those two bytes, which happens when it has
// scanned bucket b.
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
// written. Returns, per bucket, its first ascending row.
ByteTable placeAscendingRotations(const std::uint8_t* d, RotationStart* rows, const BucketStarts& start,
                                  const RotationStart* seeds, std::uint32_t seedCount,
                                  std::uint32_t* work, std::uint32_t n) noexcept {
    const SeedGroups groups(d, seeds, seedCount, work);
    ByteTable cursor;
    std::copy_n(start.begin() + 1, kByteValues, cursor.begin());
    for (std::uint32_t b = kByteValues; b-- > 0;) {
        // The scan stops at the lowest row written into bucket b, tracked here
        // as well as in cursor[b] so that the loop does not wait on memory.
        std::uint32_t lowest = cursor[b];
        for (std::uint32_t i = start[b + 1]; i > lowest;) {
            const std::uint32_t s = rows[--i];
            const std::uint32_t a = d[s + n - 1];
            const std::uint32_t ascending = static_cast<std::uint32_t>(a <= b);
            const std::uint32_t slot = cursor[a] - ascending;
            cursor[a] = slot;
            rows[select(maskOf(ascending), slot, n)] = static_cast<RotationStart>(predecessorOf(s, n));
            lowest -= static_cast<std::uint32_t>(a == b);
        }
        groups.placeSeedsBefore(b, rows, cursor);
    }
    return cursor;
}

// Places every descending rotation, scanning the rows from the top: p sorts
// within its bucket as p+1 sorts overall, and p+1 is at a lower row, so the
// scan reads every row after it is final. Rotation p, the predecessor of the
// rotation at row i in bucket b, is descending when its first byte is above
// b, or equal to b while row i is descending. Each row read is final, so the
// scan also writes the last column, when asked for, and finds the row of
// rotation 0.
struct DescendingPass {
    ByteTable next;  // next row of each bucket's descending rotations
    std::uint32_t primaryIndex = 0;
};

// Rows first .. last-1, whose predecessors are descending when their first
// byte is at least `lowest`. With the last column written, the rows are not
// needed after the scan, and a predecessor that is not descending is
// written to next[a] all the same, which is not taken: if a < b, that row is
// in a lower bucket, and if a = b (row i ascending), the descending rows of
// bucket b are all placed; either way it is a row the scan has read. Without
// the last column the rows are the result, and slot n is the sink.
template <bool kWriteLastColumn>
void scanDescending(const std::uint8_t* d, RotationStart* rows, std::uint8_t* lastColumn,
                    std::uint32_t n, std::uint32_t first, std::uint32_t last, std::uint32_t lowest,
                    DescendingPass& pass) noexcept {
    const std::uint8_t* before = d + n - 1;  // before[s] is the byte ahead of rotation s
    std::uint32_t primaryIndex = pass.primaryIndex;
    for (std::uint32_t i = first; i < last; ++i) {
        const std::uint32_t s = rows[i];
        const std::uint32_t a = before[s];
        const std::uint32_t descending = static_cast<std::uint32_t>(a >= lowest);
        const std::uint32_t slot = pass.next[a];
        pass.next[a] = slot + descending;
        const auto p = static_cast<RotationStart>(predecessorOf(s, n));
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
std::uint32_t placeDescendingRotations(const RotationWorkspace& ws, const BucketStarts& start,
                                       const ByteTable& ascendingStart, std::uint32_t n) noexcept {
    DescendingPass pass;
    std::copy_n(start.begin(), kByteValues, pass.next.begin());
    for (std::uint32_t b = 0; b < kByteValues; ++b) {
        scanDescending<kWriteLastColumn>(ws.doubled, ws.rows, ws.lastColumn, n, start[b],
                                         ascendingStart[b], b, pass);
        scanDescending<kWriteLastColumn>(ws.doubled, ws.rows, ws.lastColumn, n, ascendingStart[b],
                                         start[b + 1], b + 1, pass);
    }
    return pass.primaryIndex;
}

// The least rotation of a primitive block; its rotations then sort exactly as
// its suffixes do (a Lyndon word is smaller than each of its proper suffixes,
// so a suffix that is a prefix of another also belongs to the smaller rotation).
// Two candidates i and j are compared until they differ; the loser and every
// start it has matched so far are out. Equal stretches are skipped a word at a
// time, which matters in nearly periodic blocks.
constexpr std::uint32_t kWordBytes = 8;

std::uint32_t leastRotation(const std::uint8_t* doubled, std::uint32_t n) noexcept {
    std::uint32_t i = 0;
    std::uint32_t j = 1;
    std::uint32_t k = 0;
    while (i < n && j < n && k < n) {
        while (k + kWordBytes <= n &&
               loadBigEndianWord(doubled + i + k) == loadBigEndianWord(doubled + j + k)) {
            k += kWordBytes;
        }
        const std::uint8_t a = doubled[i + k];
        const std::uint8_t b = doubled[j + k];
        if (a == b) {
            ++k;
            continue;
        }
        if (a > b) {
            i += k + 1;
        } else {
            j += k + 1;
        }
        if (i == j) ++j;
        k = 0;
    }
    return std::min(i, j);
}

// Blocks that repeat a short pattern over long stretches (one changed byte,
// or a period that does not divide the block) defeat comparison sorting; two
// windows that both repeat with the same short period send a block straight to
// the suffix sort, before any work that would be thrown away.
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

}  // namespace

BucketStarts countFirstBytes(const std::uint8_t* block, std::uint32_t n) noexcept {
    std::array<std::uint32_t, kByteValues> count{};
    for (std::uint32_t k = 0; k < n; ++k) ++count[block[k]];
    BucketStarts start{};
    for (std::uint32_t b = 0; b < kByteValues; ++b) start[b + 1] = start[b] + count[b];
    return start;
}

std::uint32_t sortPrimitiveRotationsByComparison(const RotationWorkspace& ws,
                                                 std::uint32_t n) noexcept {
    if (n == 1) {
        ws.rows[0] = 0;
        if (ws.lastColumn != nullptr) ws.lastColumn[0] = ws.doubled[0];
        return 0;
    }
    if (repeatsShortPeriod(ws.doubled, n)) return kSortAbandoned;
    const SeedScan scan = findSeeds(ws.doubled, n, ws.seeds);
    assert(seedSortWorkWords(scan.count) <= rotationSortWorkWords(n));
    if (!sortSeedsByComparison(ws.doubled, n, ws.seeds, scan.count, ws.words)) return kSortAbandoned;
    const ByteTable ascendingStart =
        placeAscendingRotations(ws.doubled, ws.rows, scan.start, ws.seeds, scan.count, ws.words, n);
    return ws.lastColumn != nullptr
               ? placeDescendingRotations<true>(ws, scan.start, ascendingStart, n)
               : placeDescendingRotations<false>(ws, scan.start, ascendingStart, n);
}

std::uint32_t sortPrimitiveRotationsBySuffixArray(const RotationWorkspace& ws,
                                                  std::uint32_t n) noexcept {
    const std::uint32_t least = leastRotation(ws.doubled, n);
    std::uint32_t* sa = ws.words;
    buildSuffixArray(sa, ws.doubled + least, n, {ws.words + n + 1, ws.bytes});
    std::uint32_t primaryIndex = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t s = sa[i] + least;
        s = s >= n ? s - n : s;
        ws.rows[i] = static_cast<RotationStart>(s);
        if (s == 0) primaryIndex = i;
        if (ws.lastColumn != nullptr) ws.lastColumn[i] = ws.doubled[s + n - 1];
    }
    return primaryIndex;
}

std::uint32_t sortPrimitiveRotations(const RotationWorkspace& ws, std::uint32_t n) noexcept {
    const std::uint32_t primaryIndex = sortPrimitiveRotationsByComparison(ws, n);
    return primaryIndex != kSortAbandoned ? primaryIndex : sortPrimitiveRotationsBySuffixArray(ws, n);
}

}  // namespace tavrine
