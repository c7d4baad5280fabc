#include "transform/block_sorter.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

#include "transform/block_sort.h"
#include "transform/rotation_sort.h"

namespace tavrine {

namespace {

// Rank of each rotation's class among the p distinct rotations of a periodic
// block; p <= n / 2 <= 32768, so 16 bits hold it.
using ClassRank = std::uint16_t;

void buildDoubledBlock(std::uint8_t* doubled, const std::uint8_t* block, std::uint32_t n) noexcept {
    std::memcpy(doubled, block, n);
    std::memcpy(doubled + n, block, n);
    for (std::uint32_t i = 2 * n; i < 2 * n + kDoubledPadding; ++i) doubled[i] = doubled[i - n];
}

bool hasPeriod(const std::uint8_t* block, std::uint32_t n, std::uint32_t period) noexcept {
    return std::memcmp(block, block + period, n - period) == 0;
}

// Length of the primitive string u with block = u^(n/|u|). The periods of the
// block that divide n are the multiples of |u| that divide n, so dividing n by
// each of its prime factors while the quotient stays a period ends at |u|.
std::uint32_t primitiveRootLength(const std::uint8_t* block, std::uint32_t n) noexcept {
    std::uint32_t root = n;
    std::uint32_t rest = n;
    for (std::uint32_t q = 2; q <= rest; ++q) {
        if (q * q > rest) q = rest;  // what is left of n is prime
        if (rest % q != 0) continue;
        while (rest % q == 0) rest /= q;
        while (root % q == 0 && hasPeriod(block, n, root / q)) root /= q;
    }
    return root;
}

// Step by step as the reference sort does it, so that identical rotations
// end in the same order: distribute by first byte in ascending position
// (backward scan)...
void distributeByFirstByte(const std::uint8_t* doubled, RotationStart* rows,
                           const BucketStarts& start, std::uint32_t n) noexcept {
    std::array<std::uint32_t, kByteValues> end{};
    std::copy_n(start.begin() + 1, kByteValues, end.begin());
    for (std::uint32_t k = n; k-- > 0;) rows[--end[doubled[k]]] = static_cast<RotationStart>(k);
}

// ...move the rotations whose second byte is below the first to the front of
// the bucket by exchanges in one forward pass (the exchanges, not a stable
// partition, fix the order of identical rotations in the rest)...
std::uint32_t partitionBySecondByte(const std::uint8_t* doubled, RotationStart* rows,
                                    std::uint32_t first, std::uint32_t begin,
                                    std::uint32_t end) noexcept {
    std::uint32_t front = begin;
    for (std::uint32_t j = begin; j < end; ++j) {
        if (doubled[rows[j] + 1] < first) std::swap(rows[j], rows[front++]);
    }
    return front;
}

// ...and sort the rest stably. Rotations compare as the ranks of their classes,
// so a stable counting sort by rank gives what the reference's stable merge sort
// gives. The ranks of one bucket span at most the rotations of u in it.
void stableSortByRank(RotationStart* group, std::uint32_t size, const ClassRank* rankAt,
                      std::uint32_t* work) noexcept {
    if (size < 2) return;
    std::uint32_t low = rankAt[group[0]];
    std::uint32_t high = low;
    for (std::uint32_t k = 1; k < size; ++k) {
        low = std::min<std::uint32_t>(low, rankAt[group[k]]);
        high = std::max<std::uint32_t>(high, rankAt[group[k]]);
    }
    if (low == high) return;
    std::uint32_t* sorted = work;
    std::uint32_t* next = work + size;  // high - low + 2 counters
    std::fill_n(next, high - low + 2, 0u);
    for (std::uint32_t k = 0; k < size; ++k) ++next[rankAt[group[k]] - low + 1];
    for (std::uint32_t r = 1; r <= high - low; ++r) next[r] += next[r - 1];
    for (std::uint32_t k = 0; k < size; ++k) sorted[next[rankAt[group[k]] - low]++] = group[k];
    for (std::uint32_t k = 0; k < size; ++k) group[k] = static_cast<RotationStart>(sorted[k]);
}

// ...and place the rest by induction: rotation p with first byte above its
// second sorts within its bucket as p+1 sorts overall, and p+1 lies in a lower
// bucket, so one upward scan reads each row after it is final. Slot n is the
// sink for rows not written. The scan writes the last column on the way and
// returns the row of rotation 0.
std::uint32_t placeByInduction(const std::uint8_t* doubled, RotationStart* rows,
                               const BucketStarts& start, std::uint32_t n,
                               std::uint8_t* lastColumn) noexcept {
    std::array<std::uint32_t, kByteValues> next{};
    std::copy_n(start.begin(), kByteValues, next.begin());
    std::uint32_t primaryIndex = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t s = rows[i];
        const std::uint8_t first = doubled[s + n - 1];  // of the predecessor rotation
        const bool above = first > doubled[s];
        rows[above ? next[first] : n] = static_cast<RotationStart>((s == 0) ? n - 1 : s - 1);
        next[first] += static_cast<std::uint32_t>(above);
        lastColumn[i] = first;
        primaryIndex = (s == 0) ? i : primaryIndex;
    }
    return primaryIndex;
}

// A block u^k, |u| = period, k >= 2: rotations s and t are identical exactly
// when s = t (mod period), and compare as rotations s mod period and t mod
// period of u do.
struct Repetition {
    std::uint32_t length;  // of the block
    std::uint32_t period;  // of the primitive string repeated, a proper divisor of the length
};

std::uint32_t sortPeriodicRotations(const RotationWorkspace& ws, Repetition block) noexcept {
    const std::uint32_t n = block.length;
    const std::uint32_t period = block.period;
    RotationWorkspace repeated = ws;
    repeated.lastColumn = nullptr;
    sortPrimitiveRotations(repeated, period);
    // The ranks take the spare slots, which the sort of u above has finished with.
    ClassRank* rankAt = ws.spare;
    for (std::uint32_t i = 0; i < period; ++i) rankAt[ws.rows[i]] = static_cast<ClassRank>(i);
    for (std::uint32_t s = period; s < n; ++s) rankAt[s] = rankAt[s - period];

    const BucketStarts start = countFirstBytes(ws.doubled, n);
    distributeByFirstByte(ws.doubled, ws.rows, start, n);
    for (std::uint32_t a = 1; a < kByteValues; ++a) {
        const std::uint32_t rest = partitionBySecondByte(ws.doubled, ws.rows, a, start[a], start[a + 1]);
        stableSortByRank(ws.rows + rest, start[a + 1] - rest, rankAt, ws.words);
    }
    stableSortByRank(ws.rows, start[1], rankAt, ws.words);
    return placeByInduction(ws.doubled, ws.rows, start, n, ws.lastColumn);
}

}  // namespace

void BlockSorter::reserve(std::uint32_t n) {
    if (n <= capacity_) return;
    // Release first: the tables are scratch, and the peak stays that of one set.
    starts_.reset();
    words_.reset();
    bytes_.reset();
    capacity_ = 0;
    platform::HeapArray<std::uint16_t> starts(n + 1 + rotationSortSeedSlots(n) + rotationSortSpareStarts(n));
    platform::HeapArray<std::uint32_t> words(rotationSortWorkWords(n));
    platform::HeapArray<std::uint8_t> bytes(2 * static_cast<std::size_t>(n) + kDoubledPadding +
                                            rotationSortWorkBytes(n));
    starts_ = std::move(starts);
    words_ = std::move(words);
    bytes_ = std::move(bytes);
    capacity_ = n;
}

void BlockSorter::sort(std::uint8_t* record, const std::uint8_t* block, std::uint32_t n) {
    assert(n >= 1 && n <= kMaxBlockLength);
    reserve(n);
    std::uint8_t* doubled = bytes_.data();
    RotationStart* seeds = starts_.data() + n + 1;
    const RotationWorkspace ws{doubled,
                               starts_.data(),
                               seeds,
                               words_.data(),
                               seeds + rotationSortSeedSlots(n),
                               doubled + 2 * static_cast<std::size_t>(n) + kDoubledPadding,
                               record + kPrimaryIndexBytes};
    buildDoubledBlock(doubled, block, n);

    const std::uint32_t period = primitiveRootLength(block, n);
    const std::uint32_t primaryIndex =
        period == n ? sortPrimitiveRotations(ws, n) : sortPeriodicRotations(ws, {n, period});
    record[0] = static_cast<std::uint8_t>(primaryIndex);
    record[1] = static_cast<std::uint8_t>(primaryIndex >> 8);
}

}  // namespace tavrine
