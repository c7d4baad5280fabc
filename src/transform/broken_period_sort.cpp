#include "transform/broken_period_sort.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tavrine {

namespace {

// A quick look at the block's end rejects most periods before the whole block
// is compared.
constexpr std::uint32_t kEndBytesFirst = 64;

// The shortest period p <= kLongestBrokenPeriod with n >= 2p, or 0.
std::uint32_t shortestPeriod(const std::uint8_t* d, std::uint32_t n) noexcept {
    const std::uint32_t longest = std::min(kLongestBrokenPeriod, n / 2);
    for (std::uint32_t p = 1; p <= longest; ++p) {
        if (d[n - 1] != d[n - 1 - p]) continue;
        const std::uint32_t end = std::min(kEndBytesFirst, n - p);
        if (std::memcmp(d + n - end - p, d + n - end, end) != 0) continue;
        if (std::memcmp(d, d + p, n - p) == 0) return p;
    }
    return 0;
}

bool rotationBelow(const std::uint8_t* d, std::uint32_t n, std::uint32_t s,
                   std::uint32_t t) noexcept {
    return std::memcmp(d + s, d + t, n) < 0;
}

// Writes the rotations that start at 0 .. n-p into rows[0 .. n-p], sorted:
// by phase in the order of u's rotations, which differ within p bytes as u
// is primitive; within a phase by start, ascending when rotation n mod p of u
// is below rotation 0 (the earlier start is the smaller), else descending.
std::uint32_t sortWholePeriodRotations(const std::uint8_t* d, std::uint32_t n, std::uint32_t p,
                                       RotationStart* rows) noexcept {
    std::array<std::uint32_t, kLongestBrokenPeriod> phases{};
    for (std::uint32_t x = 0; x < p; ++x) phases[x] = x;
    const auto phaseBelow = [d, p](std::uint32_t x, std::uint32_t y) {
        return std::memcmp(d + x, d + y, p) < 0;
    };
    std::sort(phases.begin(), phases.begin() + p, phaseBelow);
    const bool ascending = std::memcmp(d + n % p, d, p) < 0;
    const std::uint32_t lastWhole = n - p;
    std::uint32_t row = 0;
    for (std::uint32_t k = 0; k < p; ++k) {
        const std::uint32_t x = phases[k];
        const std::uint32_t count = (lastWhole - x) / p + 1;  // starts x, x + p, ... <= n - p
        for (std::uint32_t c = 0; c < count; ++c) {
            const std::uint32_t step = ascending ? c : count - 1 - c;
            rows[row++] = static_cast<RotationStart>(x + step * p);
        }
    }
    return row;
}

// Merges the last p - 1 rotations into the m sorted ones in rows[]: sorted
// among themselves, each is placed by binary search, and the rows move up
// from the back so each moves once.
void mergeTailRotations(const std::uint8_t* d, std::uint32_t n, std::uint32_t p,
                        RotationStart* rows, std::uint32_t m) noexcept {
    std::array<std::uint32_t, kLongestBrokenPeriod> tail{};
    // How many of the sorted rows lie below each tail rotation.
    std::array<std::uint32_t, kLongestBrokenPeriod> below{};
    const std::uint32_t tails = p - 1;
    for (std::uint32_t k = 0; k < tails; ++k) tail[k] = n - tails + k;
    std::sort(tail.begin(), tail.begin() + tails,
              [d, n](std::uint32_t s, std::uint32_t t) { return rotationBelow(d, n, s, t); });
    for (std::uint32_t k = 0; k < tails; ++k) {
        const auto belowTail = [d, n, s = tail[k]](RotationStart r) {
            return rotationBelow(d, n, r, s);
        };
        const RotationStart* end = std::partition_point(rows, rows + m, belowTail);
        below[k] = static_cast<std::uint32_t>(end - rows);
    }
    std::uint32_t read = m;
    std::uint32_t write = n;
    for (std::uint32_t k = tails; k-- > 0;) {
        while (read > below[k]) rows[--write] = rows[--read];
        rows[--write] = static_cast<RotationStart>(tail[k]);
    }
}

}  // namespace

std::uint32_t sortBrokenPeriodRotations(const RotationWorkspace& ws, std::uint32_t n) noexcept {
    const std::uint8_t* d = ws.doubled;
    const std::uint32_t p = shortestPeriod(d, n);
    if (p == 0) return kSortAbandoned;
    const std::uint32_t m = sortWholePeriodRotations(d, n, p, ws.rows);
    mergeTailRotations(d, n, p, ws.rows, m);
    std::uint32_t primaryIndex = 0;
    for (std::uint32_t row = 0; row < n; ++row) {
        const std::uint32_t s = ws.rows[row];
        if (s == 0) primaryIndex = row;
        if (ws.lastColumn != nullptr) ws.lastColumn[row] = d[s + n - 1];
    }
    return primaryIndex;
}

}  // namespace tavrine
