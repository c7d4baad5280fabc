#include "transform/rotation_sort.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <utility>

#include "transform/suffix_array.h"

namespace tavrine {

namespace {

// Groups of at most this many rotations are insertion sorted.
constexpr std::uint32_t kInsertionSortRows = 12;

// Words of 8 bytes that the comparison sort may load per rotation of the block
// before it gives up. Text needs a few; a block with long repeats (a period
// with one broken byte) would need up to n / 8 per rotation, and such blocks
// go to the suffix sort instead, after at most this much wasted work.
constexpr std::int64_t kComparisonBudgetPerRotation = 24;
constexpr std::int64_t kComparisonBudgetFloor = 4096;

// Pending groups of the multikey quicksort. It continues with the smallest
// part of each split, so the stack stays near 2 log2(n) entries; a full
// stack ends the comparison sort like an exhausted budget.
constexpr std::uint32_t kPendingGroups = 256;

constexpr std::uint32_t kWordBytes = 8;

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
// multikey quicksort on 8-byte words of the doubled block, insertion sort for
// small groups. All rotations of a primitive block differ within n bytes.
class ComparisonSort {
public:
    ComparisonSort(const std::uint8_t* doubled, std::uint32_t* rows, std::uint32_t n) noexcept
        : doubled_(doubled),
          rows_(rows),
          n_(n),
          budget_(std::max(kComparisonBudgetFloor, kComparisonBudgetPerRotation * n)) {}

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

    // Rotation s before rotation t, both agreeing on their first `depth` bytes.
    bool rotationLess(std::uint32_t s, std::uint32_t t, std::uint32_t depth) noexcept;
    void insertionSort(std::uint32_t first, std::uint32_t last, std::uint32_t depth) noexcept;
    std::uint64_t medianKey(std::uint32_t first, std::uint32_t last, std::uint32_t depth) const noexcept;

    const std::uint8_t* doubled_;
    std::uint32_t* rows_;
    std::uint32_t n_;
    std::int64_t budget_;  // words still allowed to be loaded
};

bool ComparisonSort::rotationLess(std::uint32_t s, std::uint32_t t, std::uint32_t depth) noexcept {
    for (; depth < n_; depth += kWordBytes) {
        --budget_;
        const std::uint64_t a = loadKey(doubled_ + s + depth);
        const std::uint64_t b = loadKey(doubled_ + t + depth);
        if (a != b) return a < b;
    }
    return false;
}

void ComparisonSort::insertionSort(std::uint32_t first, std::uint32_t last,
                                   std::uint32_t depth) noexcept {
    for (std::uint32_t k = first + 1; k < last; ++k) {
        const std::uint32_t v = rows_[k];
        std::uint32_t j = k;
        while (j > first && rotationLess(v, rows_[j - 1], depth)) {
            rows_[j] = rows_[j - 1];
            --j;
        }
        rows_[j] = v;
    }
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
            if (size <= kInsertionSortRows) {
                insertionSort(g.first, g.last, g.depth);
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

// Per bucket a: the rotations whose second byte b is at least a, placed in
// the rows at the end of the bucket grouped by b, each group sorted.
bool sortAscendingRotations(const RotationWorkspace& ws, const BucketStarts& start,
                            std::uint32_t n) noexcept {
    const std::uint8_t* d = ws.doubled;
    // Positions by first byte, ascending, in the work area.
    std::uint32_t* byFirst = ws.work;
    std::array<std::uint32_t, kByteValues> next{};
    std::copy_n(start.begin(), kByteValues, next.begin());
    for (std::uint32_t s = 0; s < n; ++s) byFirst[next[d[s]]++] = s;

    ComparisonSort sorter(d, ws.rows, n);
    std::array<std::uint32_t, kByteValues> count{};
    std::array<std::uint32_t, kByteValues> fill{};
    for (std::uint32_t a = 0; a < kByteValues; ++a) {
        const std::uint32_t* members = byFirst + start[a];
        const std::uint32_t size = start[a + 1] - start[a];
        if (size == 0) continue;
        count.fill(0);
        for (std::uint32_t k = 0; k < size; ++k) ++count[d[members[k] + 1]];
        std::uint32_t row = start[a];
        for (std::uint32_t b = 0; b < a; ++b) row += count[b];
        for (std::uint32_t b = a; b < kByteValues; ++b) {
            fill[b] = row;
            row += count[b];
        }
        for (std::uint32_t k = 0; k < size; ++k) {
            const std::uint32_t s = members[k];
            const std::uint8_t b = d[s + 1];
            if (b >= a) ws.rows[fill[b]++] = s;
        }
        for (std::uint32_t b = a; b < kByteValues; ++b) {
            if (count[b] > 1 && !sorter.sortGroup(fill[b] - count[b], fill[b], 2)) return false;
        }
    }
    return true;
}

// The least rotation of a primitive block; its rotations then sort exactly as
// its suffixes do (a Lyndon word is smaller than each of its proper suffixes,
// so a suffix that is a prefix of another also belongs to the smaller rotation).
std::uint32_t leastRotation(const std::uint8_t* doubled, std::uint32_t n) noexcept {
    std::uint32_t i = 0;
    std::uint32_t j = 1;
    std::uint32_t k = 0;
    while (i < n && j < n && k < n) {
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

}  // namespace

BucketStarts countFirstBytes(const std::uint8_t* block, std::uint32_t n) noexcept {
    std::array<std::uint32_t, kByteValues> count{};
    for (std::uint32_t k = 0; k < n; ++k) ++count[block[k]];
    BucketStarts start{};
    for (std::uint32_t b = 0; b < kByteValues; ++b) start[b + 1] = start[b] + count[b];
    return start;
}

void placeDescendingRotations(const std::uint8_t* doubled, std::uint32_t* rows,
                              const BucketStarts& start, std::uint32_t n) noexcept {
    std::array<std::uint32_t, kByteValues> next{};
    std::copy_n(start.begin(), kByteValues, next.begin());
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t s = rows[i];
        const std::uint8_t first = doubled[s + n - 1];  // of the predecessor rotation
        if (first > doubled[s]) rows[next[first]++] = (s == 0) ? n - 1 : s - 1;
    }
}

bool sortPrimitiveRotationsByComparison(const RotationWorkspace& ws, std::uint32_t n) noexcept {
    const BucketStarts start = countFirstBytes(ws.doubled, n);
    if (!sortAscendingRotations(ws, start, n)) return false;
    placeDescendingRotations(ws.doubled, ws.rows, start, n);
    return true;
}

void sortPrimitiveRotationsBySuffixArray(const RotationWorkspace& ws, std::uint32_t n) noexcept {
    const std::uint32_t least = leastRotation(ws.doubled, n);
    buildSuffixArray(ws.rows, ws.doubled + least, n, {ws.work, ws.workBytes});
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t s = ws.rows[i] + least;
        ws.rows[i] = s >= n ? s - n : s;
    }
}

void sortPrimitiveRotations(const RotationWorkspace& ws, std::uint32_t n) noexcept {
    if (!sortPrimitiveRotationsByComparison(ws, n)) sortPrimitiveRotationsBySuffixArray(ws, n);
}

}  // namespace tavrine
