#include "transform/rotation_sort.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <utility>

#include "transform/suffix_array.h"

namespace tavrine {

namespace {

// Groups of at most this many rotations are sorted on keys held in registers.
constexpr std::uint32_t kSmallGroup = 64;

// Words of 8 bytes that the comparison sort may load per rotation of the block
// before it gives up. Text needs a few; a block with long repeats (a period
// with one broken byte) would need up to n / 8 per rotation, and such blocks
// go to the suffix sort instead, after at most this much wasted work.
constexpr std::int64_t kComparisonBudgetPerRotation = 4;
constexpr std::int64_t kComparisonBudgetFloor = 4096;

std::int64_t comparisonBudget(std::uint32_t n) noexcept {
    return std::max(kComparisonBudgetFloor, kComparisonBudgetPerRotation * n);
}

// Pending groups of the multikey quicksort. It continues with the smallest
// part of each split, which keeps the stack short; a small group may stack up
// to half its rows at once. A full stack ends the comparison sort like an
// exhausted budget.
constexpr std::uint32_t kPendingGroups = 256;

constexpr std::uint32_t kWordBytes = 8;

// A small group's sort key: the next 6 bytes of the rotation in the high bits,
// its start in the low 16 (n <= 65536), so the key alone restores the row.
constexpr std::uint32_t kPackedKeyBytes = 6;
constexpr std::uint64_t kPackedStartMask = 0xFFFF;

// The 8 bytes at p as a big-endian number: numbers compare as the strings do.
std::uint64_t loadKey(const std::uint8_t* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) {
#if defined(__GNUC__) || defined(__clang__)
        v = __builtin_bswap64(v);
#else
        v = ((v & 0x00000000000000FFull) << 56) | ((v & 0x000000000000FF00ull) << 40) |
            ((v & 0x0000000000FF0000ull) << 24) | ((v & 0x00000000FF000000ull) << 8) |
            ((v & 0x000000FF00000000ull) >> 8) | ((v & 0x0000FF0000000000ull) >> 24) |
            ((v & 0x00FF000000000000ull) >> 40) | ((v & 0xFF00000000000000ull) >> 56);
#endif
    }
    return v;
}

// Sorts groups of rotations that agree on their first `depth` bytes: a
// multikey quicksort on 8-byte words of the doubled block, insertion sort on
// packed keys for small groups. All rotations of a primitive block differ
// within n bytes, so no group survives to depth n.
class ComparisonSort {
public:
    ComparisonSort(const std::uint8_t* doubled, std::uint32_t* rows, std::uint32_t n) noexcept
        : doubled_(doubled),
          rows_(rows),
          n_(n),
          budget_(comparisonBudget(n)) {}

    // Sorts rows first .. last-1; false when the budget or the stack runs out.
    bool sortGroup(std::uint32_t first, std::uint32_t last, std::uint32_t depth) noexcept;

private:
    struct Group {
        std::uint32_t first;
        std::uint32_t last;
        std::uint32_t depth;
    };

    std::uint64_t keyAt(std::uint32_t row, std::uint32_t depth) const noexcept {
        return loadKey(doubled_ + rows_[row] + depth);
    }

    // Sorts a group of at most kSmallGroup rows on their next 6 bytes and
    // returns false when a run of them agrees there and the stack is full.
    bool sortSmallGroup(const Group& g, Group* pending, std::uint32_t& count) noexcept;
    std::uint64_t medianKey(std::uint32_t first, std::uint32_t last, std::uint32_t depth) const noexcept;

    const std::uint8_t* doubled_;
    std::uint32_t* rows_;
    std::uint32_t n_;
    std::int64_t budget_;  // words still allowed to be loaded
};

bool ComparisonSort::sortSmallGroup(const Group& g, Group* pending, std::uint32_t& count) noexcept {
    const std::uint32_t size = g.last - g.first;
    budget_ -= size;
    std::uint64_t keys[kSmallGroup];
    for (std::uint32_t k = 0; k < size; ++k) {
        const std::uint32_t s = rows_[g.first + k];
        keys[k] = (loadKey(doubled_ + s + g.depth) & ~kPackedStartMask) | s;
    }
    for (std::uint32_t k = 1; k < size; ++k) {
        const std::uint64_t v = keys[k];
        std::uint32_t j = k;
        for (; j > 0 && keys[j - 1] > v; --j) keys[j] = keys[j - 1];
        keys[j] = v;
    }
    for (std::uint32_t k = 0; k < size; ++k) {
        rows_[g.first + k] = static_cast<std::uint32_t>(keys[k] & kPackedStartMask);
    }
    // Rows that agree on all 6 bytes are sorted again on the bytes after them.
    for (std::uint32_t k = 0; k + 1 < size;) {
        std::uint32_t end = k + 1;
        while (end < size && ((keys[end] ^ keys[k]) & ~kPackedStartMask) == 0) ++end;
        if (end - k > 1) {
            if (count == kPendingGroups) return false;
            pending[count++] = {g.first + k, g.first + end, g.depth + kPackedKeyBytes};
        }
        k = end;
    }
    return true;
}

std::uint64_t ComparisonSort::medianKey(std::uint32_t first, std::uint32_t last,
                                        std::uint32_t depth) const noexcept {
    const std::uint64_t a = keyAt(first, depth);
    const std::uint64_t b = keyAt(first + (last - first) / 2, depth);
    const std::uint64_t c = keyAt(last - 1, depth);
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

bool ComparisonSort::sortGroup(std::uint32_t first, std::uint32_t last,
                               std::uint32_t depth) noexcept {
    Group pending[kPendingGroups];
    std::uint32_t count = 0;
    Group g{first, last, depth};
    for (;;) {
        const std::uint32_t size = g.last - g.first;
        if (size > 1 && g.depth < n_) {
            if (size <= kSmallGroup) {
                if (!sortSmallGroup(g, pending, count)) return false;
            } else {
                budget_ -= size;
                // Three-way partition on the word at g.depth: below, equal, above.
                const std::uint64_t pivot = medianKey(g.first, g.last, g.depth);
                std::uint32_t below = g.first;
                std::uint32_t i = g.first;
                std::uint32_t above = g.last;
                while (i < above) {
                    const std::uint64_t key = keyAt(i, g.depth);
                    if (key < pivot) {
                        std::swap(rows_[below++], rows_[i++]);
                    } else if (key > pivot) {
                        std::swap(rows_[i], rows_[--above]);
                    } else {
                        ++i;
                    }
                }
                Group parts[3] = {{g.first, below, g.depth},
                                  {below, above, g.depth + kWordBytes},
                                  {above, g.last, g.depth}};
                std::sort(std::begin(parts), std::end(parts), [](const Group& x, const Group& y) {
                    return x.last - x.first > y.last - y.first;
                });
                // Keep the smallest part to work on; stack the others, larger first.
                for (int k = 0; k < 2; ++k) {
                    if (parts[k].last - parts[k].first < 2) continue;
                    if (count == kPendingGroups) return false;
                    pending[count++] = parts[k];
                }
                g = parts[2];
                if (budget_ < 0) return false;
                continue;
            }
        }
        if (budget_ < 0) return false;
        if (count == 0) return true;
        g = pending[--count];
    }
}

// Rotation i is descending when it is greater than rotation i+1: its first
// byte is above its second, or equal to it and rotation i+1 is descending.
// In a primitive block every run of equal bytes ends, so the types are defined.
constexpr std::uint8_t kAscending = 0;
constexpr std::uint8_t kDescending = 1;

std::uint8_t typeOf(std::uint8_t first, std::uint8_t second, std::uint8_t nextType) noexcept {
    return static_cast<std::uint8_t>((first > second) | ((first == second) & nextType));
}

// Bytes of every rising rotation that the radix passes order before any
// comparison: the first byte and the next kRadixBytes - 1.
constexpr std::uint32_t kRadixBytes = 6;

// Row layout of bucket a, in sorted order: descending rotations, then the
// ascending ones that start with two bytes a, then the rising ones (second
// byte above a), from row rising[a] to the end of the bucket.
struct BucketLayout {
    BucketStarts start;
    std::uint32_t risingCount;
    std::array<std::uint32_t, kByteValues> ascendingRuns{};  // ascending, second byte equal to first
    std::array<std::uint32_t, kByteValues> rising{};         // first row of the rising rotations
};

// Classifies every rotation (types[i]), counts the buckets and their
// ascending runs and gathers the starts of the rising rotations into
// risingStarts[], in one backward scan around the block. Needs n >= 2 and two
// different bytes.
BucketLayout classifyRotations(const std::uint8_t* d, std::uint32_t n, std::uint8_t* types,
                               std::uint32_t* risingStarts) noexcept {
    std::array<std::uint32_t, kByteValues> count{};
    BucketLayout layout{};
    // Start where two different bytes meet: that type needs no later one.
    std::uint32_t i = 0;
    while (d[i] == d[i + 1]) ++i;
    std::uint8_t next = kAscending;
    for (std::uint32_t k = 0; k < n; ++k) {
        const std::uint8_t first = d[i];
        const std::uint8_t second = d[i + 1];
        next = typeOf(first, second, next);
        types[i] = next;
        ++count[first];
        const bool isRising = second > first;
        risingStarts[layout.risingCount] = i;
        layout.risingCount += static_cast<std::uint32_t>(isRising);
        layout.ascendingRuns[first] += static_cast<std::uint32_t>((next == kAscending) & (second == first));
        i = (i == 0) ? n - 1 : i - 1;
    }
    for (std::uint32_t b = 0; b < kByteValues; ++b) layout.start[b + 1] = layout.start[b] + count[b];
    return layout;
}

// Orders the rising rotations (second byte above the first), gathered in the
// first half of the work area, on their first kRadixBytes bytes and places
// them in their buckets' rising rows: least significant byte first, stable
// counting passes move them between the two halves of the work area and, on
// the first byte, into the rows.
void radixSortRisingRotations(const RotationWorkspace& ws, BucketLayout& layout,
                              std::uint32_t n) noexcept {
    const std::uint8_t* d = ws.doubled;
    std::uint32_t* rows = ws.rows;
    std::uint32_t* buffers[2] = {ws.work, ws.work + n + 1};
    const std::uint32_t count = layout.risingCount;
    std::array<std::array<std::uint32_t, kByteValues>, kRadixBytes> next{};
    for (std::uint32_t k = 0; k < count; ++k) {
        const std::uint8_t* at = d + buffers[0][k];
        for (std::uint32_t j = 0; j < kRadixBytes; ++j) ++next[j][at[j]];
    }
    // The rising rotations take the last rows of their buckets.
    for (std::uint32_t b = 0; b < kByteValues; ++b) layout.rising[b] = layout.start[b + 1] - next[0][b];
    std::uint32_t from = 0;
    for (std::uint32_t j = kRadixBytes; j-- > 1;) {
        std::uint32_t total = 0;
        for (std::uint32_t b = 0; b < kByteValues; ++b) total += std::exchange(next[j][b], total);
        const std::uint32_t* src = buffers[from];
        std::uint32_t* dst = buffers[from ^ 1];
        for (std::uint32_t k = 0; k < count; ++k) {
            const std::uint32_t s = src[k];
            dst[next[j][d[s + j]]++] = s;
        }
        from ^= 1;
    }
    std::copy_n(layout.rising.begin(), kByteValues, next[0].begin());
    const std::uint32_t* src = buffers[from];
    for (std::uint32_t k = 0; k < count; ++k) {
        const std::uint32_t s = src[k];
        rows[next[0][d[s]]++] = s;
    }
}

// The bytes the radix passes ordered on, as a number.
std::uint64_t radixPrefixOf(const std::uint8_t* p) noexcept {
    return loadKey(p) >> (64 - 8 * kRadixBytes);
}

// Before sorting, each group's cost is estimated from its size and how far
// neighbouring rotations of it agree after the radix prefix, probed up to
// kProbeWords words for one pair per kRowsPerProbe rows. Most blocks of long
// repeats (periods with a changed byte, mutated copies of one piece) show up
// here and go to the suffix sort before the comparison sort spends its budget;
// the budget catches the rest (self-similar words, whose neighbours by
// position agree briefly while their neighbours in order agree at length).
constexpr std::uint32_t kProbeWords = 32;
constexpr std::uint32_t kRowsPerProbe = 32;

std::uint32_t commonWords(const std::uint8_t* d, std::uint32_t s, std::uint32_t t) noexcept {
    std::uint32_t words = 0;
    for (std::size_t offset = kRadixBytes; words < kProbeWords; offset += kWordBytes, ++words) {
        if (loadKey(d + s + offset) != loadKey(d + t + offset)) break;
    }
    return words;
}

// Words of 8 bytes that sorting rows first .. last-1 is expected to load.
std::int64_t estimateGroupCost(const std::uint8_t* d, const std::uint32_t* rows,
                               std::uint32_t first, std::uint32_t last) noexcept {
    const std::uint32_t size = last - first;
    const std::uint32_t probes = 1 + size / kRowsPerProbe;
    std::int64_t agreed = 0;
    for (std::uint32_t k = 0; k < probes; ++k) {
        const std::uint32_t row = first + static_cast<std::uint32_t>(
                                              static_cast<std::uint64_t>(size - 2) * k / probes);
        agreed += commonWords(d, rows[row], rows[row + 1]);
    }
    return static_cast<std::int64_t>(size) * (1 + agreed / probes);
}

// Lists the runs of rising rotations that agree on their first kRadixBytes
// bytes as (first, last) row pairs in the work area (at most one pair per two
// rising rotations) and sets count; false when their estimated cost takes
// more than half the budget. A bucket's run starts are found without branches,
// into the second half of the work area.
bool findRisingGroups(const RotationWorkspace& ws, const BucketLayout& layout, std::uint32_t n,
                      std::uint32_t& count) noexcept {
    const std::uint8_t* d = ws.doubled;
    const std::uint32_t* rows = ws.rows;
    std::uint32_t* groups = ws.work;
    std::uint32_t* starts = ws.work + n + 1;
    count = 0;
    std::int64_t estimate = 0;
    for (std::uint32_t a = 0; a < kByteValues; ++a) {
        const std::uint32_t end = layout.start[a + 1];
        const std::uint32_t begin = layout.rising[a];
        if (end - begin < 2) continue;
        std::uint32_t runs = 0;
        std::uint64_t previous = ~std::uint64_t{0};  // no prefix is this wide
        for (std::uint32_t k = begin; k < end; ++k) {
            const std::uint64_t prefix = radixPrefixOf(d + rows[k]);
            starts[runs] = k;
            runs += static_cast<std::uint32_t>(prefix != previous);
            previous = prefix;
        }
        starts[runs] = end;
        for (std::uint32_t r = 0; r < runs; ++r) {
            const std::uint32_t first = starts[r];
            const std::uint32_t last = starts[r + 1];
            if (last - first < 2) continue;
            groups[std::size_t{2} * count] = first;
            groups[std::size_t{2} * count + 1] = last;
            ++count;
            estimate += estimateGroupCost(d, rows, first, last);
        }
    }
    return estimate <= comparisonBudget(n) / 2;
}

// An ascending rotation p that starts with two bytes a sorts within its bucket
// as p+1 does, which is ascending and in the same bucket, at a higher row: a
// downward scan of the bucket places them, highest first, below the rising rows.
void placeAscendingRuns(const std::uint8_t* d, std::uint32_t* rows, const BucketLayout& layout,
                        std::uint32_t n) noexcept {
    for (std::uint32_t a = 0; a < kByteValues; ++a) {
        if (layout.ascendingRuns[a] == 0) continue;
        const std::uint32_t lowest = layout.rising[a] - layout.ascendingRuns[a];
        std::uint32_t fill = layout.rising[a];
        for (std::uint32_t i = layout.start[a + 1]; i-- > lowest;) {
            const std::uint32_t s = rows[i];
            if (d[s + n - 1] == a) rows[--fill] = (s == 0) ? n - 1 : s - 1;
        }
    }
}

// The descending rotations follow from the ascending ones: p sorts within its
// bucket as p+1 sorts overall, and p+1 is at a lower row, so one upward scan
// reads every row after it is final. Slot n is the sink for rows not written.
// Each row read is final, so the scan also writes the last column, when asked
// for, and returns the row of rotation 0.
template <bool kWriteLastColumn>
std::uint32_t placeDescending(const RotationWorkspace& ws, const BucketStarts& start,
                              std::uint32_t n) noexcept {
    // Local copies: the byte stores below could otherwise alias the workspace.
    const std::uint8_t* d = ws.doubled;
    const std::uint8_t* types = ws.workBytes;
    std::uint32_t* rows = ws.rows;
    std::uint8_t* lastColumn = ws.lastColumn;
    std::array<std::uint32_t, kByteValues> next{};
    std::copy_n(start.begin(), kByteValues, next.begin());
    std::uint32_t primaryIndex = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t s = rows[i];
        const std::uint32_t p = (s == 0) ? n - 1 : s - 1;
        const std::uint8_t a = d[p];
        const std::uint32_t descending = types[p] == kDescending ? 1 : 0;
        rows[descending != 0 ? next[a] : n] = p;
        next[a] += descending;
        if constexpr (kWriteLastColumn) lastColumn[i] = a;
        primaryIndex = (s == 0) ? i : primaryIndex;
    }
    return primaryIndex;
}

// The least rotation of a primitive block; its rotations then sort exactly as
// its suffixes do (a Lyndon word is smaller than each of its proper suffixes,
// so a suffix that is a prefix of another also belongs to the smaller rotation).
// Two candidates i and j are compared until they differ; the loser and every
// start it has matched so far are out. Equal stretches are skipped a word at a
// time, which matters in nearly periodic blocks.
std::uint32_t leastRotation(const std::uint8_t* doubled, std::uint32_t n) noexcept {
    std::uint32_t i = 0;
    std::uint32_t j = 1;
    std::uint32_t k = 0;
    while (i < n && j < n && k < n) {
        while (k + kWordBytes <= n && loadKey(doubled + i + k) == loadKey(doubled + j + k)) k += kWordBytes;
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
    std::uint8_t* types = ws.workBytes;
    BucketLayout layout = classifyRotations(ws.doubled, n, types, ws.work);
    radixSortRisingRotations(ws, layout, n);
    // The radix buffers are free again for the group list.
    std::uint32_t groupCount = 0;
    if (!findRisingGroups(ws, layout, n, groupCount)) return kSortAbandoned;
    const std::uint32_t* groups = ws.work;
    ComparisonSort sorter(ws.doubled, ws.rows, n);
    for (std::size_t g = 0; g < groupCount; ++g) {
        if (!sorter.sortGroup(groups[2 * g], groups[2 * g + 1], kRadixBytes)) return kSortAbandoned;
    }
    placeAscendingRuns(ws.doubled, ws.rows, layout, n);
    return ws.lastColumn != nullptr ? placeDescending<true>(ws, layout.start, n)
                                    : placeDescending<false>(ws, layout.start, n);
}

std::uint32_t sortPrimitiveRotationsBySuffixArray(const RotationWorkspace& ws,
                                                  std::uint32_t n) noexcept {
    const std::uint32_t least = leastRotation(ws.doubled, n);
    buildSuffixArray(ws.rows, ws.doubled + least, n, {ws.work, ws.workBytes});
    std::uint32_t primaryIndex = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t s = ws.rows[i] + least;
        s = s >= n ? s - n : s;
        ws.rows[i] = s;
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
