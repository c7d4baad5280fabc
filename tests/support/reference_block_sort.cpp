#include "support/reference_block_sort.h"

#include <array>
#include <cassert>
#include <cstring>
#include <utility>
#include <vector>

#include "transform/block_sort.h"

namespace tavrine::test {

namespace {

constexpr std::uint32_t kByteValues = 256;

// Ranges of at most this many rows are insertion sorted instead of merged.
constexpr std::uint32_t kInsertionSortRows = 11;

// start[b] = number of block bytes below b; bucket b is rows start[b] .. start[b+1]-1.
using BucketStarts = std::array<std::uint32_t, kByteValues + 1>;

void writePrimaryIndex(std::uint8_t* record, std::uint32_t row) noexcept {
    record[0] = static_cast<std::uint8_t>(row);
    record[1] = static_cast<std::uint8_t>(row >> 8);
}

// The forward sort's working state. Rotation s is the contiguous string
// doubled[s .. s+n-1]; rows[i] is the start of the rotation at row i.
struct RotationTable {
    const std::uint8_t* doubled;  // the block twice over, 2n bytes
    std::uint32_t* rows;          // the position table, n slots
    std::uint32_t* scratch;       // kScratchSlots slots, the merge buffer
    std::uint32_t n;
};

// Orders two rotations of one bucket by the n-1 bytes after their common first
// byte, unsigned: negative, zero or positive.
int compareRotations(const RotationTable& t, std::uint32_t s, std::uint32_t u) noexcept {
    return std::memcmp(t.doubled + s + 1, t.doubled + u + 1, t.n - 1);
}

void buildDoubledBlock(std::uint8_t* doubled, const std::uint8_t* block, std::uint32_t n) noexcept {
    std::memcpy(doubled, block, n);
    std::memcpy(doubled + n, block, n);
}

BucketStarts countBuckets(const std::uint8_t* block, std::uint32_t n) noexcept {
    std::array<std::uint32_t, kByteValues> count{};
    for (std::uint32_t k = 0; k < n; ++k) ++count[block[k]];
    BucketStarts start{};
    for (std::uint32_t b = 0; b < kByteValues; ++b) start[b + 1] = start[b] + count[b];
    return start;
}

// Scanning backwards leaves every bucket in ascending start position; that
// order is where the order of identical rotations begins.
void distributeByFirstByte(const RotationTable& t, const BucketStarts& start) noexcept {
    std::array<std::uint32_t, kByteValues> end{};
    for (std::uint32_t b = 0; b < kByteValues; ++b) end[b] = start[b + 1];
    for (std::uint32_t k = t.n; k-- > 0;) {
        const std::uint8_t first = t.doubled[k];
        --end[first];
        t.rows[end[first]] = k;
    }
}

// Moves the rotations of bucket `first` whose second byte is below `first` to
// the front of the bucket, by exchanges in one forward pass, and returns the
// row where the rest begins. The exchanges fix the order of identical
// rotations in the rest, so they must not be replaced by a stable partition.
std::uint32_t partitionBySecondByte(const RotationTable& t, std::uint32_t first,
                                    std::uint32_t begin, std::uint32_t end) noexcept {
    std::uint32_t front = begin;
    for (std::uint32_t j = begin; j < end; ++j) {
        if (t.doubled[t.rows[j] + 1] < first) {
            std::swap(t.rows[j], t.rows[front]);
            ++front;
        }
    }
    return front;
}

// Stable: an entry moves up only past entries that are greater than it.
void insertionSort(const RotationTable& t, std::uint32_t first, std::uint32_t last) noexcept {
    for (std::uint32_t k = first + 1; k <= last; ++k) {
        const std::uint32_t v = t.rows[k];
        std::uint32_t j = k;
        while (j > first && compareRotations(t, v, t.rows[j - 1]) < 0) {
            t.rows[j] = t.rows[j - 1];
            --j;
        }
        t.rows[j] = v;
    }
}

// Merges the sorted rows first..mid and mid+1..last through the scratch table,
// which holds the left half (at most kScratchSlots entries). Ties take the
// left entry, which keeps the merge stable.
void mergeHalves(const RotationTable& t, std::uint32_t first, std::uint32_t mid,
                 std::uint32_t last) noexcept {
    const std::uint32_t leftCount = mid - first + 1;
    assert(leftCount <= kScratchSlots);
    std::memcpy(t.scratch, t.rows + first, leftCount * sizeof(std::uint32_t));
    std::uint32_t out = first;
    std::uint32_t left = 0;
    std::uint32_t right = mid + 1;
    while (right <= last) {
        if (left == leftCount) return;  // the remaining right rows are already in place
        if (compareRotations(t, t.scratch[left], t.rows[right]) > 0) {
            t.rows[out++] = t.rows[right++];
        } else {
            t.rows[out++] = t.scratch[left++];
        }
    }
    while (left < leftCount) t.rows[out++] = t.scratch[left++];
}

// Stable sort of rows first..last (inclusive).
void mergeSort(const RotationTable& t, std::uint32_t first, std::uint32_t last) noexcept {
    if (last - first < kInsertionSortRows) {
        insertionSort(t, first, last);
        return;
    }
    const std::uint32_t mid = (first + last) / 2;
    mergeSort(t, first, mid);
    mergeSort(t, mid + 1, last);
    mergeHalves(t, first, mid, last);
}

// Sorts, in every bucket, only the rotations whose second byte is not below
// their first; bucket 0 has no others and is sorted whole.
void sortBuckets(const RotationTable& t, const BucketStarts& start) noexcept {
    for (std::uint32_t a = 1; a < kByteValues; ++a) {
        const std::uint32_t rest = partitionBySecondByte(t, a, start[a], start[a + 1]);
        if (start[a + 1] - rest > 1) mergeSort(t, rest, start[a + 1] - 1);
    }
    if (start[1] > 1) mergeSort(t, 0, start[1] - 1);
}

// Places the rotations left unsorted: rotation p whose first byte is above its
// second sorts within its bucket as its successor p+1 sorts overall. That
// successor lies in a lower bucket, so the ascending scan reads it in its final
// row before it reaches p's bucket, and rows written here are final when read.
void placeByInduction(const RotationTable& t, const BucketStarts& start) noexcept {
    std::array<std::uint32_t, kByteValues> next{};
    for (std::uint32_t b = 0; b < kByteValues; ++b) next[b] = start[b];
    for (std::uint32_t i = 0; i < t.n; ++i) {
        const std::uint32_t s = t.rows[i];
        const std::uint32_t p = (s == 0) ? t.n - 1 : s - 1;
        const std::uint8_t first = t.doubled[p];
        if (first > t.doubled[s]) t.rows[next[first]++] = p;
    }
}

void writeRecord(std::uint8_t* record, const RotationTable& t) noexcept {
    std::uint8_t* lastColumn = record + kPrimaryIndexBytes;
    std::uint32_t primaryIndex = 0;
    for (std::uint32_t i = 0; i < t.n; ++i) {
        const std::uint32_t s = t.rows[i];
        if (s == 0) primaryIndex = i;
        lastColumn[i] = t.doubled[s + t.n - 1];
    }
    writePrimaryIndex(record, primaryIndex);
}

}  // namespace

void forwardBlockSortReference(std::uint8_t* record, const std::uint8_t* block, std::uint32_t n,
                               std::uint32_t* scratch) {
    assert(n >= 1 && n <= kMaxBlockLength);
    std::vector<std::uint8_t> doubled(2 * static_cast<std::size_t>(n));
    std::vector<std::uint32_t> rows(n);
    const RotationTable table{doubled.data(), rows.data(), scratch, n};

    buildDoubledBlock(doubled.data(), block, n);
    const BucketStarts start = countBuckets(block, n);
    distributeByFirstByte(table, start);
    sortBuckets(table, start);
    placeByInduction(table, start);
    writeRecord(record, table);
}

void inverseBlockSortOwnTable(std::uint8_t* out, const std::uint8_t* record, std::uint32_t n) {
    std::vector<std::uint16_t> table(inverseSortTableEntries(n - kPrimaryIndexBytes));
    InverseBlockSort(out, record, n, table.data());
}

}  // namespace tavrine::test
