#include "transform/periodic_sort.h"

#include <cstring>
#include <utility>

namespace tavrine {

namespace {

bool hasPeriod(const std::uint8_t* block, std::uint32_t n, std::uint32_t period) noexcept {
    return std::memcmp(block, block + period, n - period) == 0;
}

// A block u^k, |u| = period, k >= 2: rotations s and t are identical exactly
// when s = t (mod period), and compare as rotations s mod period and t mod
// period of u do.
struct Repetition {
    std::uint32_t length;  // of the block
    std::uint32_t period;  // of the primitive string repeated, a proper divisor of the length
};

// The place of rotation 0 among the rotations identical to it, in the
// order that the plain definition's steps leave them. A rotation whose first
// byte is above its second is placed by induction, in the order of its
// successor, so rotation 0 stands among its class where rotation 1 stands
// among its, and so on to the first rotation j whose first byte a is at
// most its second. Bucket a is sorted stably, so the class of j keeps the
// order in which the bucket enters the sort: ascending starts for bucket 0,
// else the order that the exchanges of the partition by second byte leave,
// replayed here on bucket a alone. `bucket` takes n slots.
std::uint32_t placeAmongIdentical(const std::uint8_t* d, Repetition block,
                                  RotationStart* bucket) noexcept {
    std::uint32_t j = 0;
    while (d[j] > d[j + 1]) ++j;  // the bytes fall all along, so j < n
    const std::uint32_t a = d[j];
    if (a == 0) return j / block.period;
    std::uint32_t size = 0;
    for (std::uint32_t q = 0; q < block.length; ++q) {
        bucket[size] = static_cast<RotationStart>(q);
        size += static_cast<std::uint32_t>(d[q] == a);
    }
    std::uint32_t front = 0;
    for (std::uint32_t i = 0; i < size; ++i) {
        if (d[bucket[i] + 1] < a) std::swap(bucket[i], bucket[front++]);
    }
    std::uint32_t place = 0;
    for (std::uint32_t i = front; bucket[i] != j; ++i) {
        place += static_cast<std::uint32_t>(bucket[i] % block.period == j % block.period);
    }
    return place;
}

}  // namespace

// The periods of the block that divide n are the multiples of |u| that
// divide n, so dividing n by each of its prime factors while the quotient
// stays a period ends at |u|.
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

// The rotations of u^k come in classes of k identical ones, one per
// rotation of u, in the order of u's rotations: rotation 0 has the row of
// u's rotation 0 times k plus its place among its class.
std::uint32_t sortPeriodicRotations(const RotationWorkspace& ws, std::uint32_t n,
                                    std::uint32_t period) noexcept {
    const Repetition block{n, period};
    const std::uint32_t copies = n / period;
    const std::uint32_t rootRow = sortPrimitiveRotations(ws, period);
    // From the top down, each byte read before the rows below overwrite it.
    for (std::uint32_t row = period; row-- > 0;) {
        std::memset(ws.lastColumn + static_cast<std::size_t>(row) * copies, ws.lastColumn[row],
                    copies);
    }
    return rootRow * copies + placeAmongIdentical(ws.doubled, block, ws.rows);
}

}  // namespace tavrine
