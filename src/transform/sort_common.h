// What the rotation sorts share: the block as they read it (doubled), byte
// buckets and how they are counted, rotation starts, and the 8-byte words
// that comparisons load.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/byte_order.h"

namespace tavrine {

constexpr std::uint32_t kByteValues = 256;

// The start of a rotation; blocks have at most 65536 bytes, so 16 bits hold it.
using RotationStart = std::uint16_t;

using ByteCounts = std::array<std::uint32_t, kByteValues>;

// start[b] = number of block bytes below b; bucket b is rows start[b] .. start[b+1]-1.
using BucketStarts = std::array<std::uint32_t, kByteValues + 1>;

// Bytes after the doubled block that word-wise comparisons may read; they
// continue the block cyclically.
constexpr std::uint32_t kDoubledPadding = 16;

// The block twice over and kDoubledPadding bytes more, so that rotation s
// reads as doubled[s .. s+n-1] and its words load without wrapping round.
// `doubled` takes 2n + kDoubledPadding bytes.
inline void buildDoubledBlock(std::uint8_t* doubled, const std::uint8_t* block,
                              std::uint32_t n) noexcept {
    std::memcpy(doubled, block, n);
    std::memcpy(doubled + n, block, n);
    for (std::uint32_t i = 2 * n; i < 2 * n + kDoubledPadding; ++i) doubled[i] = doubled[i - n];
}

// The block as the induced passes see it: d[i] = block[i mod n] for i < 2n.
struct DoubledBlock {
    const std::uint8_t* d;
    std::uint32_t n;

    std::uint32_t predecessorOf(std::uint32_t s) const noexcept { return s == 0 ? n - 1 : s - 1; }
};

// Comparisons go a word at a time: the 8 bytes at p as a number that
// compares as the bytes do.
constexpr std::uint32_t kWordBytes = 8;
inline std::uint64_t loadWord(const std::uint8_t* p) noexcept {
    return platform::loadBigEndian64(p);
}

// The starts of N buckets from their sizes, and the total behind them:
// start[k] = counts[0] + ... + counts[k-1].
template <std::size_t N>
std::array<std::uint32_t, N + 1> startsFromCounts(const std::array<std::uint32_t, N>& counts) noexcept {
    std::array<std::uint32_t, N + 1> start{};
    for (std::size_t k = 0; k < N; ++k) start[k + 1] = start[k] + counts[k];
    return start;
}

// Bytes counted in kCountStripes stripes side by side, each with its own
// counters: a run of equal bytes, common in blocks and last columns alike,
// then makes independent chains of increments instead of one.
constexpr std::uint32_t kCountStripes = 4;

struct StripeCounts {
    std::array<std::uint32_t, kCountStripes + 1> begin;  // stripe q is bytes begin[q] .. begin[q+1]-1
    std::array<ByteCounts, kCountStripes> count;          // of each byte value in each stripe
};

// Calls visit(q, i) for every position i of stripe q, the stripes side by
// side: position j of every stripe before position j + 1 of any.
template <typename Visit>
void forEachSideBySide(const StripeCounts& stripes, Visit visit) noexcept {
    const std::uint32_t shortest = stripes.begin[1] - stripes.begin[0];  // the others may be one longer
    for (std::uint32_t j = 0; j < shortest; ++j) {
        for (std::uint32_t q = 0; q < kCountStripes; ++q) visit(q, stripes.begin[q] + j);
    }
    for (std::uint32_t q = 0; q < kCountStripes; ++q) {
        for (std::uint32_t i = stripes.begin[q] + shortest; i < stripes.begin[q + 1]; ++i) visit(q, i);
    }
}

inline void countInStripes(StripeCounts& stripes, const std::uint8_t* bytes,
                           std::uint32_t n) noexcept {
    for (std::uint32_t q = 0; q <= kCountStripes; ++q) {
        stripes.begin[q] = static_cast<std::uint32_t>(std::uint64_t{n} * q / kCountStripes);
    }
    for (ByteCounts& counts : stripes.count) counts.fill(0);
    forEachSideBySide(stripes, [&](std::uint32_t q, std::uint32_t i) { ++stripes.count[q][bytes[i]]; });
}

// Below this many bytes the stripes' four sets of counters, zeroed and then
// summed, cost more than the chains of increments they break up.
constexpr std::uint32_t kStripedCountFrom = 1024;

// The buckets of the rotations of a block of n bytes, by first byte.
inline BucketStarts bucketStarts(const std::uint8_t* block, std::uint32_t n) noexcept {
    if (n < kStripedCountFrom) {
        ByteCounts counts{};
        for (std::uint32_t i = 0; i < n; ++i) ++counts[block[i]];
        return startsFromCounts(counts);
    }
    StripeCounts stripes;
    countInStripes(stripes, block, n);
    ByteCounts total{};
    for (const ByteCounts& counts : stripes.count) {
        for (std::uint32_t b = 0; b < kByteValues; ++b) total[b] += counts[b];
    }
    return startsFromCounts(total);
}

// One stable counting pass: writes the `count` starts of `from` into `to`
// ordered by key[start], keeping the order of equal keys; start[b] is where
// those with key b begin. Two independent streams share the work: the front
// half fills every bucket from its start upwards, the back half, read
// backwards, from its end downwards, so together they fill each bucket
// exactly. Runs of equal keys then make two chains of cursor updates, not one.
inline void scatterByByte(const RotationStart* from, RotationStart* to, std::uint32_t count,
                          const std::uint8_t* key, const BucketStarts& start) noexcept {
    ByteCounts low;
    ByteCounts high;
    std::copy_n(start.begin(), kByteValues, low.begin());
    std::copy_n(start.begin() + 1, kByteValues, high.begin());
    const std::uint32_t half = count / 2;
    for (std::uint32_t k = 0; k < half; ++k) {
        const RotationStart front = from[k];
        const RotationStart back = from[count - 1 - k];
        to[low[key[front]]++] = front;
        to[--high[key[back]]] = back;
    }
    if (count % 2 != 0) to[low[key[from[half]]]] = from[half];
}

}  // namespace tavrine
