#include "transform/block_sort.h"

#include <algorithm>
#include <cassert>

#include "transform/sort_common.h"

namespace tavrine {

namespace {

std::uint32_t readPrimaryIndex(const std::uint8_t* record) noexcept {
    return static_cast<std::uint32_t>(record[0]) | (static_cast<std::uint32_t>(record[1]) << 8);
}

// The inverse sort cuts the last column into stripes (sort_common.h) and
// ranks the bytes of all stripes side by side: a run of equal bytes, common
// in a last column, makes independent chains of increments instead of one.
// This turns each stripe's counts into its first rows: the rotations starting
// with byte b take the rows of bucket b in last-column order, so stripe q's
// first b goes to the row after all smaller bytes and after the b's of the
// stripes before it.
void firstRows(StripeCounts& stripes) noexcept {
    std::uint32_t row = 0;
    for (std::uint32_t b = 0; b < kByteValues; ++b) {
        for (ByteCounts& counts : stripes.count) {
            const std::uint32_t count = counts[b];
            counts[b] = row;
            row += count;
        }
    }
}

// successor[predecessor[i]] = i for every last-column position i, in a pass
// of its own. Scattered stores, whose addresses come late, held up the loads
// of the steps after them when the rows were found in the same pass: that
// pass took twice as long as the two do now.
void fillSuccessorRows(std::uint16_t* successor, const std::uint16_t* predecessor,
                       std::uint32_t m) noexcept {
    for (std::uint32_t i = 0; i < m; ++i) successor[predecessor[i]] = static_cast<std::uint16_t>(i);
}

// Rebuilds the block from both ends at once: forwards from the primary row
// through successor rows, and backwards from it through predecessor rows, two
// independent chains of loads that the processor overlaps.
void walkBothWays(std::uint8_t* out, const std::uint8_t* lastColumn, std::uint32_t m,
                  std::uint32_t primaryIndex, const std::uint16_t* successor,
                  const std::uint16_t* predecessor) noexcept {
    // The primary row holds rotation 0, the block itself. Going forwards, the
    // row of rotation k + 1 has byte k in the last column; going backwards,
    // the row of rotation k has byte k - 1 there, byte m - 1 for the primary row.
    std::uint32_t forward = successor[primaryIndex];
    std::uint32_t backward = primaryIndex;
    const std::uint32_t half = m / 2;
    for (std::uint32_t k = 0; k < half; ++k) {
        out[k] = lastColumn[forward];
        forward = successor[forward];
        out[m - 1 - k] = lastColumn[backward];
        backward = predecessor[backward];
    }
    if ((m & 1) != 0) {
        out[half] = lastColumn[forward];
        forward = successor[forward];
    }
    // The two halves join up exactly when m successor steps lead from the
    // primary row back to itself, which every record of a block does. A
    // damaged last column can put the primary row on a shorter cycle whose
    // length does not divide m; the bytes are then those of the forward walk
    // alone, as for any other record.
    if (successor[backward] != forward) [[unlikely]] {
        std::uint32_t row = successor[primaryIndex];
        for (std::uint32_t k = 0; k < m; ++k) {
            out[k] = lastColumn[row];
            row = successor[row];
        }
    }
}

// The byte values a record's bytes lie between, both included.
struct ValueSpan {
    std::uint32_t low;
    std::uint32_t high;
};

// Records up to this long are scanned for their span, so that the first rows
// are summed over the values they use rather than over all 256: in a record
// of a few dozen bytes those sums cost more than the rest of the inverse sort.
constexpr std::uint32_t kSpanScannedUpTo = 512;

ValueSpan valueSpan(const std::uint8_t* record, std::uint32_t n) noexcept {
    if (n > kSpanScannedUpTo) return {0, kByteValues - 1};
    std::uint32_t low = record[0];
    std::uint32_t high = record[0];
    for (std::uint32_t i = 1; i < n; ++i) {
        low = std::min<std::uint32_t>(low, record[i]);
        high = std::max<std::uint32_t>(high, record[i]);
    }
    return {low, high};
}

// A last column this short has no runs that the stripes would pay for: their
// set-up over 4 x 256 counters costs more than the whole walk. One pass ranks
// the record as the decoder does, and the ranked form takes it from there.
constexpr std::uint32_t kStripedRankingFrom = 256;

// Where each value's rows begin, for a ranked record whose bytes lie in
// `span`; only the entries of the span are set. The ranks count the primary
// index's two bytes too, and a last-column byte's row is the first row of
// its value's bucket plus its rank among the last column's equal bytes,
// which is its rank less those of the primary index's bytes that equal it. So value
// b's entry is the number of the record's bytes below b, less one for each
// primary index byte at or below b. Rows are below 2^16 and the sums wrap at
// 2^16 like the 16-bit ranks: an entry that wraps below 0 (a value whose
// bytes all rank behind a primary index byte) or a rank that wrapped round
// still gives the right row. The sums read the counts themselves: loads from
// an adjusted copy wait for the copy's stores.
ByteCounts firstRowsLessPrimaryIndex(const std::uint8_t* record, const RecordByteCounts& counts,
                                     ValueSpan span) noexcept {
    const std::uint32_t lowerIndexByte = std::min(record[0], record[1]);
    const std::uint32_t upperIndexByte = std::max(record[0], record[1]);
    ByteCounts first;
    std::uint32_t row = 0;
    std::uint32_t b = span.low;
    for (; b < lowerIndexByte; ++b) {
        first[b] = row;
        row += counts[b];
    }
    --row;
    for (; b < upperIndexByte; ++b) {
        first[b] = row;
        row += counts[b];
    }
    --row;
    for (; b <= span.high; ++b) {
        first[b] = row;
        row += counts[b];
    }
    return first;
}

// The ranks lie where the predecessor rows go, one record byte ahead of its
// row: last-column byte i's at predecessor[i], which its row replaces. The
// record's bytes lie in `span`.
void inverseSortRanked(std::uint8_t* out, const std::uint8_t* record, std::uint32_t n,
                       std::uint16_t* table, const RecordByteCounts& counts,
                       ValueSpan span) noexcept {
    const std::uint32_t m = n - kPrimaryIndexBytes;
    const std::uint8_t* lastColumn = record + kPrimaryIndexBytes;
    const std::uint32_t primaryIndex = readPrimaryIndex(record);
    assert(m >= 1 && m <= kMaxBlockLength && primaryIndex < m);
    std::uint16_t* successor = table;
    std::uint16_t* predecessor = recordRankSlots(table, m) + kPrimaryIndexBytes;

    const ByteCounts first = firstRowsLessPrimaryIndex(record, counts, span);
    for (std::uint32_t i = 0; i < m; ++i) {
        predecessor[i] = static_cast<std::uint16_t>(first[lastColumn[i]] + predecessor[i]);
    }
    fillSuccessorRows(successor, predecessor, m);
    walkBothWays(out, lastColumn, m, primaryIndex, successor, predecessor);
}

// Only the counters of the record's span are cleared: only they are read.
void rankShortRecord(std::uint8_t* out, const std::uint8_t* record, std::uint32_t n,
                     std::uint16_t* table) noexcept {
    RecordByteCounts counts;
    const ValueSpan span = valueSpan(record, n);
    std::fill(counts.begin() + span.low, counts.begin() + span.high + 1, 0);
    std::uint16_t* ranks = recordRankSlots(table, n - kPrimaryIndexBytes);
    for (std::uint32_t w = 0; w < n; ++w) {
        ranks[w] = static_cast<std::uint16_t>(counts[record[w]]++);
    }
    inverseSortRanked(out, record, n, table, counts, span);
}

}  // namespace

// Row indexes are below m <= 2^16, so both tables hold 16-bit entries; the
// predecessor rows sit behind the successor rows and two spare entries.
void InverseBlockSort(std::uint8_t* out, const std::uint8_t* record, std::uint32_t n,
                      std::uint16_t* table) noexcept {
    const std::uint32_t m = n - kPrimaryIndexBytes;
    const std::uint8_t* lastColumn = record + kPrimaryIndexBytes;
    const std::uint32_t primaryIndex = readPrimaryIndex(record);
    assert(m >= 1 && m <= kMaxBlockLength && primaryIndex < m);
    if (m < kStripedRankingFrom) {
        rankShortRecord(out, record, n, table);
        return;
    }
    // successor[k]: the row whose rotation starts one byte after row k's.
    // predecessor[i]: the row whose rotation starts one byte before row i's,
    // with lastColumn[i] as its first byte.
    std::uint16_t* successor = table;
    std::uint16_t* predecessor = recordRankSlots(table, m) + kPrimaryIndexBytes;

    // The k-th occurrence of byte b in the last column precedes the rotation
    // of the k-th row of bucket b. Every slot of both tables is written
    // exactly once, so the walks read only written slots.
    StripeCounts stripes;
    countInStripes(stripes, lastColumn, m);
    firstRows(stripes);  // from here on, stripes.count holds the next row per byte value
    forEachSideBySide(stripes, [&](std::uint32_t q, std::uint32_t i) {
        predecessor[i] = static_cast<std::uint16_t>(stripes.count[q][lastColumn[i]]++);
    });
    fillSuccessorRows(successor, predecessor, m);
    walkBothWays(out, lastColumn, m, primaryIndex, successor, predecessor);
}

void InverseBlockSortRanked(std::uint8_t* out, const std::uint8_t* record, std::uint32_t n,
                            std::uint16_t* table, const RecordByteCounts& counts) noexcept {
    inverseSortRanked(out, record, n, table, counts, valueSpan(record, n));
}

// Last-column byte i's row k follows as in InverseBlockSortRanked; row k's
// rotation starts one byte before row i's, so row i comes after row k, and
// the walk writes byte i on arriving there. The ranks are a permutation of
// the rows (the decoder counted every byte it ranked), so every entry is
// written exactly once.
BlockWalk PrepareBlockWalk(std::uint8_t* out, const std::uint8_t* record, std::uint32_t n,
                           const std::uint16_t* ranks, const RecordByteCounts& counts,
                           std::uint32_t* walkTable) noexcept {
    const std::uint32_t m = n - kPrimaryIndexBytes;
    const std::uint8_t* lastColumn = record + kPrimaryIndexBytes;
    const std::uint16_t* lastColumnRanks = ranks + kPrimaryIndexBytes;
    const std::uint32_t primaryIndex = readPrimaryIndex(record);
    assert(m >= 1 && m <= kMaxBlockLength && primaryIndex < m);

    // Unrolled: the loop's own steps were a quarter of its work.
    const ByteCounts first = firstRowsLessPrimaryIndex(record, counts, valueSpan(record, n));
#pragma GCC unroll 4
    for (std::uint32_t i = 0; i < m; ++i) {
        const std::uint8_t byte = lastColumn[i];
        const auto k = static_cast<std::uint16_t>(first[byte] + lastColumnRanks[i]);
        walkTable[k] = BlockWalk::entry(i, byte);
    }
    return BlockWalk(out, m, walkTable, primaryIndex);
}

}  // namespace tavrine
